#pragma once

#include "capture/CaptureOutcome.h"
#include "common/Twips.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

class QMdiArea;
class QMdiSubWindow;
class QPushButton;

namespace morvane {

class FileDialogs;
class Frm_Cut;
class Prompts;

// The crop container: a multiple-document window whose only child is the crop editor, with
// a bottom bar holding "保存" (write the crop over the opened file) and "另存为" (write it
// to a file chosen in a save dialog). The editor enables both buttons when it has a crop
// and disables both when a selection is refused.
class MDIForm1 : public QWidget {
    Q_OBJECT

public:
    // Design client area, in twips.
    static constexpr int kClientWidthTwips = 8160;
    static constexpr int kClientHeightTwips = 6270;

    // saveFolder gives the main window's save folder (its text, untrimmed), read when a
    // dialog is shown; prompts shows the container's messages.
    MDIForm1(FileDialogs& dialogs, Prompts& prompts, std::function<QString()> saveFolder,
             QWidget* parent = nullptr);
    ~MDIForm1() override;

    // Shows the editor as the child window; the editor asks for the picture now. False
    // when it did not open one: the caller closes the container; a cancelled dialog is not
    // reported, a file that could not be read is.
    bool MDIForm_Load();

    // Where the saves that could not write and a picture that could not be read are told.
    void setReport(OutcomeReport report) { report_ = std::move(report); }
    void report(const CaptureOutcome& outcome) const;

    Frm_Cut* editor() const;
    TwipsPerPixel twipsPerPixel() const { return tpp_; }

    QMdiArea* mdiArea;
    QWidget* Picture1; // the bottom bar
    QPushButton* Cmd_Save;
    QPushButton* Cmd_SaveTo;

    // Writes the crop over the opened file, unless the path now leads to another file: that
    // is refused with a message. A write that fails is reported.
    void Cmd_Save_Click();
    // Asks for a file name and writes the crop to it exactly as given; a write that fails is
    // reported.
    void Cmd_SaveTo_Click();
    // Keeps the save buttons at the bar's right-hand end, measured from the window's outer
    // width.
    void MDIForm_Resize();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FileDialogs& dialogs_;
    Prompts& prompts_;
    std::function<QString()> saveFolder_;
    OutcomeReport report_;
    TwipsPerPixel tpp_;
    // Guarded: the editor's window belongs to the workspace, which deletes it when closed.
    QPointer<Frm_Cut> editor_;
    QMdiSubWindow* editorWindow_ = nullptr;
    bool centred_ = false;
};

} // namespace morvane
