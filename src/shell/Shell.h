#pragma once

#include "capture/Dispatcher.h"
#include "platform/DesktopSession.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace morvane {

class AccessibilitySwitch;
class AtspiLookup;
class CaptureRequests;
class Dispatcher;
class Frm_Main;
class Hotkey;
class TrayIcon;
class WebBrowser;
class InstanceLock;
class ClipboardSink;
class Desktop;
class Prompts;
class SettingsStore;
class FileDialogs;
class MDIForm1;
class Frm_App;
class Notifier;
struct CaptureFileResult;

// The program's life: start-up in its fixed order, and the shutdown that every way of
// closing the main window leads to.
class Shell : public QObject {
    Q_OBJECT

public:
    // endProgram ends the event loop with status 0; tests that run many shells in one
    // process pass their own.
    Shell(SettingsStore& settings, Prompts& prompts, InstanceLock& instanceLock,
          std::function<void()> endProgram = {});
    ~Shell() override;

    // Runs the start-up steps up to showing the main window. False when another
    // instance already runs: the user has been told, and nothing else was done.
    bool startUp();

    // Unloads the windows in order, ends the hotkey wait and releases the hotkey, then
    // asks the event loop to end with status 0. Safe to call more than once.
    void shutDown();

    Frm_Main* mainWindow() const { return main_.get(); }
    TrayIcon* trayIcon() const { return tray_.get(); }

    // The capture engine, made on first use so that start-up does not wait for it.
    Dispatcher& dispatcher();
    bool isShutDown() const { return shutDown_; }

    // Where failures nobody asked about are told; the notification-area icon unless a test
    // records them. Set before startUp().
    void setNotifier(Notifier& notifier) { notifier_ = &notifier; }

    // The desktop the program works with, as chosen at start-up; X11 unless set before
    // startUp().
    void setSessionKind(SessionKind kind) { sessionKind_ = kind; }
    // The browser window runs in a process of its own, this program file started again;
    // without one (tests) it is loaded into this process.
    void setBrowserProgram(const QString& program) { browserProgram_ = program; }
    SessionKind sessionKind() const { return sessionKind_; }

    // The crop windows' file dialogs; Qt's own unless a test answers them.
    void setFileDialogs(FileDialogs& dialogs) { fileDialogs_ = &dialogs; }
    // The crop container while it is open, and the folder picker while it is shown.
    MDIForm1* cropContainer() const;
    Frm_App* folderPicker() const;

private:
    // Places where the program's other windows and desktop services attach.
    void installTrayIcon();
    void registerHotkey();
    void hotkeyPressed();
    void delayedCaptureDue();
    void releaseHotkey();
    // The capture command on the session bus, which does what a press does.
    void listenForCaptureRequests();
    void stopCaptureRequests();
    void removeTrayIcon();
    void showFolderPicker();
    void showCropContainer();
    // Opens an address in the browser window, loading the browser module on first use.
    void openInBrowser(const QString& address);
    void unloadFolderPicker();
    void unloadTrayMenu();
    void unloadBrowser();
    void unloadCropContainer();
    // Tells the user, through the notifier, of something that failed; also logged.
    void announce(const QString& title, const QString& text);
    // The one place every capture outcome reaches the user: the tray icon's tick for a
    // file written, a message from it for everything else.
    void report(const CaptureOutcome& outcome);
    void followDelayedCapture();
    // Accessibility on for the program's life, so that applications expose their controls.
    void turnAccessibilityOn();
    void restoreAccessibility();

    SettingsStore& settings_;
    Prompts& prompts_;
    InstanceLock& instanceLock_;
    std::function<void()> endProgram_;
    std::unique_ptr<Frm_Main> main_;
    SessionKind sessionKind_ = SessionKind::X11;
    QString browserProgram_;
    std::unique_ptr<Desktop> desktop_;
    std::unique_ptr<ClipboardSink> clipboard_;
    std::unique_ptr<AtspiLookup> accessibility_;
    std::unique_ptr<Dispatcher> dispatcher_;
    std::unique_ptr<AccessibilitySwitch> accessibilitySwitch_;
    std::unique_ptr<Hotkey> hotkey_;
    std::unique_ptr<CaptureRequests> captureRequests_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<WebBrowser> browser_;
    std::unique_ptr<FileDialogs> qtFileDialogs_;
    FileDialogs* fileDialogs_ = nullptr;
    Notifier* notifier_ = nullptr;
    QPointer<MDIForm1> cropContainer_;
    QPointer<Frm_App> folderPicker_;

    // Hands the dispatcher's web addresses to the browser window.
    struct WebOpener final : WebAddressOpener {
        explicit WebOpener(Shell& shell) : shell_(shell) {}
        void openAddress(const QString& address) override { shell_.openInBrowser(address); }
        bool pageCaptureRunning() const override;
        Shell& shell_;
    } webOpener_;
    bool shutDown_ = false;
    // A capture is running: its messages run events, and a press or a due delay arriving
    // there must not start another one inside it.
    bool capturing_ = false;
};

} // namespace morvane
