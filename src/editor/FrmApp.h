#pragma once

#include "common/Twips.h"

#include <QDialog>
#include <QMargins>
#include <QStringList>
#include <optional>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace morvane {

class FolderList;

// The save-folder picker: a small modal window with the drives and a folder list. "确定"
// writes the folder last opened in the list into the main window's save-folder box and
// closes; "退出" and the close box close without a change. Nothing is stored here: the main
// window's own OK button stores the folder.
class Frm_App : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidthTwips = 2655;
    static constexpr int kClientHeightTwips = 2985;

    // saveFolder is the main window's save-folder box; parent the main window.
    Frm_App(QLineEdit& saveFolder, QWidget* parent = nullptr);

    // Presets the lists from the save-folder box: its folder (or the nearest existing one
    // above it) on its drive; a blank box leaves the current folder.
    void Form_Load();

    QComboBox* Drive1;
    FolderList* Dir1;
    QPushButton* Command1; // "确定"
    QPushButton* Command2; // "退出"

    void Drive1_Change();
    void Command1_Click();
    void Command2_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Centres the window, frame included, over its owner's frame; again whenever the frame
    // differs from the one it was last centred with.
    void centreOverOwner();

    // Selects the drive that holds path; its change event follows when that is another one.
    void setDrive(const QString& path);

    QLineEdit& saveFolder_;
    TwipsPerPixel tpp_;
    QStringList drives_;
    std::optional<QMargins> centredWithFrame_;
};

} // namespace morvane
