#include "Shell.h"

#include "FrmMain.h"
#include "HotkeyText.h"
#include "TrayIcon.h"
#include "common/Fonts.h"
#include "common/Log.h"
#include "platform/GlobalHotkey.h"

#include "InstanceLock.h"
#include "capture/Dispatcher.h"
#include "common/Prompts.h"
#include "editor/FileDialogs.h"
#include "editor/FrmApp.h"
#include "editor/MDIForm1.h"
#include "platform/Accessibility.h"
#include "platform/X11Desktop.h"
#include "webcapture/WebLoader.h"
#include <QMenu>
#include <QSystemTrayIcon>

#include <QApplication>
#include <QComboBox>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

namespace morvane {

void configureApplication() {
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setOrganizationName(QStringLiteral("Morvane"));
    // The window draws its own colours; Fusion honours them the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(uiFont(9));
    // Qt's own texts (the file dialogs' labels and buttons, the message boxes' buttons, the
    // browser's menus) in the program's language, whatever the desktop's.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString& catalogue : {QStringLiteral("qtbase"), QStringLiteral("qtwebengine")}) {
        auto* translator = new QTranslator(qApp);
        if (translator->load(QLocale(QLocale::Chinese, QLocale::China), catalogue,
                             QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
        }
    }
    // The program lives on while its main window is hidden; only shutdown ends it.
    QApplication::setQuitOnLastWindowClosed(false);
}

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

    main_ = std::make_unique<FrmMain>(settings_, prompts_);
    connect(main_.get(), &FrmMain::unloadRequested, this, &Shell::shutDown);
    connect(main_.get(), &FrmMain::hotkeyApplied, this, &Shell::registerHotkey);
    connect(main_.get(), &FrmMain::folderPickerRequested, this, &Shell::showFolderPicker);
    connect(main_.get(), &FrmMain::captureRequested, this, &Shell::delayedCaptureDue);
    connect(main_.get(), &FrmMain::cropContainerRequested, this, &Shell::showCropContainer);

    main_->loadSettings();
    turnAccessibilityOn();
    installTrayIcon();
    registerHotkey();
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
    removeTrayIcon();
    restoreAccessibility();
    if (main_) {
        main_->hide();
    }
    endProgram_();
}

Dispatcher& Shell::dispatcher() {
    if (!dispatcher_) {
        desktop_ = std::make_unique<X11Desktop>();
        clipboard_ = std::make_unique<QtClipboard>();
        dispatcher_ = std::make_unique<Dispatcher>(*main_, *desktop_, prompts_, *clipboard_);
        dispatcher_->setWebAddressOpener(&webOpener_);
        accessibility_ = std::make_unique<AtspiLookup>();
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
        hotkey_ = std::make_unique<GlobalHotkey>();
        connect(hotkey_.get(), &GlobalHotkey::pressed, this, &Shell::hotkeyPressed);
    }
    main_->StopWait = false;
    // A new combination replaces the earlier one at once; a refused one is not reported.
    hotkey_->grab(ModifierFlags(main_->Combo1->currentText()),
                  hotkeyKeyCode(main_->Combo2->currentText()));
}

void Shell::hotkeyPressed() {
    if (!main_ || main_->StopWait) {
        return;
    }
    // A press cancels a pending delayed capture and captures at once.
    main_->disarmDelayedCapture();
    dispatcher().DoCapture();
}

void Shell::delayedCaptureDue() {
    if (main_ && !main_->StopWait) {
        dispatcher().DoCapture();
    }
}

void Shell::releaseHotkey() {
    if (hotkey_) {
        hotkey_->release();
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

void Shell::openInBrowser(const QString& address) {
    if (!browser_) {
        WebCaptureContext context;
        context.mainWindow = main_.get();
        context.saveFolder = [this] { return main_ ? main_->Txt_App->text() : QString(); };
        context.prompts = &prompts_;
        dispatcher(); // the desktop and the clipboard
        context.desktop = desktop_.get();
        context.clipboard = clipboard_.get();
        browser_ = loadWebBrowser(context);
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
    // The editor asks for the picture inside the load; a cancelled dialog or a file that is
    // not a picture closes the container again, without a word. The container is reached only
    // through the guarded pointer: shutdown during the dialog unloads it.
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
