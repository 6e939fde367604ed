#pragma once

#include "capture/Dispatcher.h"
#include "common/Twips.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace morvane {

class CaptionButtons;
class DelayArming;
class MainCaptureHost;
class Prompts;
class SettingsStore;

// A picture box that is never shown: it holds the last capture.
class PictureBox : public QWidget {
public:
    using QWidget::QWidget;
    QImage picture;
};

// The main window: a borderless settings panel, and the holder of the user's choices.
// Other parts of the program read its controls at the moment they need them (the save
// folder is Txt_App's text, the capture mode the chosen option button), so the controls
// keep the names the rest of the program knows them by.
class Frm_Main : public QWidget {
    Q_OBJECT

public:
    // Client area in twips.
    static constexpr int kClientWidthTwips = 7320;
    static constexpr int kClientHeightTwips = 2760;

    Frm_Main(SettingsStore& settings, Prompts& prompts, QWidget* parent = nullptr);
    ~Frm_Main() override;

    // Fills the lists and restores the stored choices; the start-up steps that concern
    // the window's own controls.
    void loadSettings();

    // Centres the window on the primary screen; done before it is first shown.
    void centreOnScreen();

    TwipsPerPixel twipsPerPixel() const { return tpp_; }

    // The contact link that Label7 opens.
    static QString contactLink();

    // Stores both hotkey texts, always, and applies them.
    void Cmd_Yes_Click();
    // Stores the save folder, and nothing else.
    void Cmd_Ok_Click();
    // Opens the save-folder picker.
    void Cmd_App_Click();
    // Ticked: asks for the delay and arms the one-shot capture; unticked: disarms it.
    void Chk_Time_Click();
    // The delay has passed: one capture.
    void Timer1_Timer();

    QLabel* Label3;
    QLabel* Image1;
    QLabel* Label4;
    QLabel* Ige_min;
    QLabel* Ige_exit;
    // The caption buttons' pictures: close and minimise, each plain and lit.
    QPixmap Image7;
    QPixmap Image8;
    QPixmap Image9;
    QPixmap Image10;
    QLabel* Label1;
    QComboBox* Combo1;
    QLabel* Label2;
    QComboBox* Combo2;
    QPushButton* Cmd_Yes;
    QLabel* Label7;
    QGroupBox* Frame1;
    QRadioButton* Opt_Part;
    QRadioButton* Opt_Frame;
    QRadioButton* Opt_Pro;
    QRadioButton* Opt_All;
    QRadioButton* Opt_Web;
    QCheckBox* Chk_Cursor;
    QCheckBox* Chk_Time;
    QLabel* Label6;
    QLabel* Label5;
    QLineEdit* Txt_App;
    QPushButton* Cmd_App;
    QPushButton* Cmd_Ok;
    QTimer* Timer1;
    PictureBox* Picture1;

    // Ends the hotkey wait; set once, at shutdown.
    bool StopWait = false;

    // The save folder as typed, untrimmed.
    QString saveFolder() const;
    // Stops the delay timer and unticks its box.
    void disarmDelayedCapture();
    // What a capture reads from and leaves in the window.
    CaptureHost& captureHost();

signals:
    // The stored hotkey texts changed (Cmd_Yes): register the combination again.
    void hotkeyApplied();
    // The save-folder picker was asked for (Cmd_App).
    void folderPickerRequested();
    // The delayed capture is due.
    void captureRequested();
    // The image-crop link was clicked.
    void cropContainerRequested();
    // An OK button's setting could not be written to the settings file.
    void settingsNotStored();
    // The window is being unloaded (closed by the user or the window manager).
    void unloadRequested();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    // The links: the image-crop link and the contact link.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void loadPictures();

    SettingsStore& settings_;
    Prompts& prompts_;
    TwipsPerPixel tpp_;
    QPixmap skin_;
    CaptionButtons* caption_ = nullptr; // a child: the window deletes it
    std::unique_ptr<DelayArming> delay_;
    std::unique_ptr<MainCaptureHost> host_;
};

} // namespace morvane
