#include "Shell.h"

#include "BrowserProcess.h"
#include "FrmMain.h"
#include "HotkeyText.h"
#include "OutcomeText.h"
#include "TrayIcon.h"
#include "common/Log.h"
#include "platform/Hotkey.h"

#include "InstanceLock.h"
#include "SettingsStore.h"
#include "capture/Dispatcher.h"
#include "common/Notifier.h"
#include "common/Prompts.h"
#include "editor/FileDialogs.h"
#include "editor/FrmApp.h"
#include "editor/MDIForm1.h"
#include "platform/Accessibility.h"
#include "platform/CaptureRequests.h"
#include "platform/Clipboard.h"
#include "platform/Desktop.h"
#include "webcapture/WebLoader.h"
#include <QMenu>
#include <QScopedValueRollback>
#include <QSystemTrayIcon>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

namespace morvane {

Shell::Shell(SettingsStore& settings, Prompts& prompts, InstanceLock& instanceLock,
             std::function<void()> endProgram)
    : settings_(settings), prompts_(prompts), instanceLock_(instanceLock),
      endProgram_(std::move(endProgram)), qtFileDialogs_(std::make_unique<QtFileDialogs>()),
      fileDialogs_(qtFileDialogs_.get()), webOpener_(*this) {
    if (!endProgram_) {
        endProgram_ = [] { QCoreApplication::exit(0); };
    }
}

Shell::~Shell() = default;

bool Shell::startUp() {
    if (!instanceLock_.acquire()) {
        prompts_.message(QStringLiteral("程序已运行"));
        shutDown();
        return false;
    }

    main_ = std::make_unique<Frm_Main>(settings_, prompts_);
    connect(main_.get(), &Frm_Main::unloadRequested, this, &Shell::shutDown);
    connect(main_.get(), &Frm_Main::hotkeyApplied, this, &Shell::registerHotkey);
    connect(main_.get(), &Frm_Main::folderPickerRequested, this, &Shell::showFolderPicker);
    connect(main_.get(), &Frm_Main::captureRequested, this, &Shell::delayedCaptureDue);
    connect(main_.get(), &Frm_Main::cropContainerRequested, this, &Shell::showCropContainer);
    connect(main_.get(), &Frm_Main::settingsNotStored, this, [this] {
        announce(QStringLiteral("设置未保存"),
                 QStringLiteral("无法写入设置文件 %1。所作的设置只在本次运行中有效。")
                     .arg(settings_.fileName()));
    });
    // After the window's own handler: by then the delay is armed, or not.
    connect(main_->Chk_Time, &QCheckBox::toggled, this, &Shell::followDelayedCapture);

    main_->loadSettings();
    turnAccessibilityOn();
    installTrayIcon();
    if (!instanceLock_.held()) {
        announce(QStringLiteral("无法确认程序是否已在运行"),
                 QStringLiteral("运行文件夹和缓存文件夹都无法建立锁文件，程序可能同时运行多份。"));
    }
    registerHotkey();
    listenForCaptureRequests();
    main_->centreOnScreen();
    main_->show();
    return true;
}

void Shell::shutDown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;

    unloadFolderPicker();
    unloadTrayMenu();
    unloadBrowser();
    unloadCropContainer();
    if (main_) {
        main_->StopWait = true;
    }
    releaseHotkey();
    stopCaptureRequests();
    removeTrayIcon();
    restoreAccessibility();
    if (main_) {
        main_->hide();
    }
    endProgram_();
}

Dispatcher& Shell::dispatcher() {
    if (!dispatcher_) {
        DesktopServices services = makeDesktopServices(sessionKind_);
        desktop_ = std::move(services.desktop);
        clipboard_ = std::move(services.clipboard);
        dispatcher_ =
            std::make_unique<Dispatcher>(main_->captureHost(), *desktop_, prompts_, *clipboard_);
        dispatcher_->setWebAddressOpener(&webOpener_);
        dispatcher_->setReport([this](const CaptureOutcome& outcome) { report(outcome); });
        accessibility_ = std::make_unique<AtspiLookup>(*desktop_);
        dispatcher_->setAccessibleLookup(accessibility_.get());
    }
    return *dispatcher_;
}

void Shell::turnAccessibilityOn() {
    accessibilitySwitch_ = std::make_unique<AccessibilitySwitch>();
}

void Shell::restoreAccessibility() {
    accessibilitySwitch_.reset();
}

void Shell::installTrayIcon() {
    tray_ = std::make_unique<TrayIcon>(*main_);
    connect(tray_.get(), &TrayIcon::exitRequested, this, [this] {
        if (main_) {
            main_->close(); // the shutdown, which also ends the program
        }
    });
}

void Shell::registerHotkey() {
    if (!hotkey_) {
        hotkey_ = makeHotkey(sessionKind_);
        connect(hotkey_.get(), &Hotkey::pressed, this, &Shell::hotkeyPressed);
    }
    main_->StopWait = false;
    // A new combination replaces the earlier one at once. One that cannot be grabbed (most
    // often because another program holds it) leaves the program without a hotkey: say so.
    const QString modifier = main_->Combo1->currentText();
    const QString key = main_->Combo2->currentText();
    if (!hotkey_->grab(ModifierFlags(modifier), hotkeyKeyCode(key))) {
        const QString why = hotkey_->refusal();
        announce(QStringLiteral("抓图组合键不可用"),
                 why.isEmpty() ? QStringLiteral("组合键 %1+%2 无法使用，可能已被其他程序占用。"
                                                "请另选组合键后按“确定”。")
                                     .arg(modifier, key)
                               : why);
    }
}

void Shell::announce(const QString& title, const QString& text) {
    qCWarning(lcMorvane).noquote() << "announced:" << title << "-" << text;
    if (notifier_) {
        notifier_->notify(title, text);
    } else if (tray_) {
        tray_->notify(title, text);
    }
}

void Shell::report(const CaptureOutcome& outcome) {
    if (outcome.kind == CaptureOutcome::Kind::Saved) {
        if (tray_) {
            tray_->showSaved(outcome.path);
        }
        return;
    }
    const Announcement told = announcementOf(outcome, main_ ? main_->saveFolder() : QString());
    announce(told.title, told.text);
}

void Shell::followDelayedCapture() {
    if (!tray_ || !main_) {
        return;
    }
    if (main_->Chk_Time->isChecked() && main_->Timer1->isActive()) {
        tray_->startCountdown(*main_->Timer1);
    } else {
        tray_->stopCountdown();
    }
}

void Shell::hotkeyPressed() {
    if (!main_ || main_->StopWait) {
        return;
    }
    // While one of the program's modal windows is open (a message, the delay box, the folder
    // picker, a file dialog) a press does nothing: a capture would act behind the window the
    // user is answering, and a held key would open one message inside the other without end.
    if (const QWidget* modal = QApplication::activeModalWidget()) {
        qCInfo(lcMorvane) << "hotkey ignored: a modal window is open:" << modal->windowTitle();
        return;
    }
    if (capturing_) {
        qCInfo(lcMorvane) << "hotkey ignored: the previous capture has not ended";
        return;
    }
    // A press cancels a pending delayed capture and captures at once.
    main_->disarmDelayedCapture();
    const QScopedValueRollback<bool> busy(capturing_, true);
    dispatcher().DoCapture();
}

void Shell::delayedCaptureDue() {
    if (!main_ || main_->StopWait) {
        return;
    }
    if (capturing_) {
        // The running capture disarms the delay when it ends.
        qCInfo(lcMorvane) << "delayed capture dropped: the previous capture has not ended";
        return;
    }
    const QScopedValueRollback<bool> busy(capturing_, true);
    dispatcher().DoCapture();
}

void Shell::releaseHotkey() {
    if (hotkey_) {
        hotkey_->release();
    }
}

void Shell::listenForCaptureRequests() {
    captureRequests_ = std::make_unique<CaptureRequests>();
    // Every rule of a press holds for a request: the same handler takes both.
    connect(captureRequests_.get(), &CaptureRequests::requested, this, &Shell::hotkeyPressed);
}

void Shell::stopCaptureRequests() {
    // The name goes now; the object stays until the shell goes, since a request's signal
    // may be what led to this shutdown.
    if (captureRequests_) {
        captureRequests_->stop();
    }
}

void Shell::removeTrayIcon() {
    if (tray_) {
        // The exit item may be what led here: its menu must outlive its own signal, so the
        // icon goes at once and the object once control is back in the event loop.
        tray_->icon().hide();
        tray_.release()->deleteLater();
    }
}

MDIForm1* Shell::cropContainer() const {
    return cropContainer_;
}

Frm_App* Shell::folderPicker() const {
    return folderPicker_;
}

void Shell::showFolderPicker() {
    if (!main_ || folderPicker_) {
        return;
    }
    // Modal: the main window waits here until the picker is closed.
    Frm_App picker(*main_->Txt_App, main_.get());
    folderPicker_ = &picker;
    picker.exec();
}

void Shell::unloadFolderPicker() {
    if (folderPicker_) {
        folderPicker_->reject();
    }
}

void Shell::unloadTrayMenu() {
    if (tray_) {
        tray_->menu().hide();
    }
}

void Shell::unloadBrowser() {
    if (browser_) {
        browser_->closeBrowser();
    }
}

bool Shell::WebOpener::pageCaptureRunning() const {
    return shell_.browser_ && shell_.browser_->pageCaptureRunning();
}

void Shell::openInBrowser(const QString& address) {
    if (!browser_) {
        WebCaptureContext context;
        context.mainWindow = main_.get();
        context.saveFolder = [this] { return main_ ? main_->Txt_App->text() : QString(); };
        context.prompts = &prompts_;
        dispatcher(); // the desktop and the clipboard
        context.desktop = desktop_.get();
        context.clipboard = clipboard_.get();
        context.report = [this](const CaptureOutcome& outcome) { report(outcome); };
        // On Wayland no client may read the screen, nor knows where its own view lies.
        context.pixelsFromView = isWaylandSession(sessionKind_);
        if (browserProgram_.isEmpty()) {
            browser_ = loadWebBrowser(context);
        } else {
            browser_ = std::make_unique<BrowserProcess>(context, browserProgram_);
        }
        if (!browser_) {
            return;
        }
    }
    browser_->openAddress(address);
}

void Shell::unloadCropContainer() {
    // Nothing is asked or written: an unsaved crop is dropped. Shutdown can come while the
    // container is still inside its load (its file dialog runs events), so the container is
    // hidden now and deleted once control is back in the event loop.
    if (cropContainer_) {
        cropContainer_->hide();
        cropContainer_->deleteLater();
        cropContainer_.clear();
    }
}

void Shell::showCropContainer() {
    if (!main_ || shutDown_) {
        return;
    }
    if (cropContainer_) {
        // Already open: shown again, and no file is asked for.
        cropContainer_->setWindowState(cropContainer_->windowState() & ~Qt::WindowMinimized);
        cropContainer_->show();
        cropContainer_->raise();
        cropContainer_->activateWindow();
        return;
    }
    cropContainer_ = new MDIForm1(*fileDialogs_, prompts_,
                                  [this] { return main_ ? main_->Txt_App->text() : QString(); });
    cropContainer_->setAttribute(Qt::WA_DeleteOnClose);
    // A save that could not write and a picture that could not be read are told as any
    // capture's outcome.
    cropContainer_->setReport([this](const CaptureOutcome& outcome) { report(outcome); });
    // The editor asks for the picture inside the load; a cancelled dialog or a file that is
    // not a picture closes the container again (the latter reported). The container is
    // reached only through the guarded pointer: shutdown during the dialog unloads it.
    const bool loaded = cropContainer_->MDIForm_Load();
    if (!cropContainer_) {
        qCInfo(lcMorvane) << "crop container closed while it was loading";
        return;
    }
    if (!loaded || shutDown_) {
        unloadCropContainer();
        return;
    }
    cropContainer_->show();
}

} // namespace morvane
