#pragma once

#include "webcapture/WebModule.h"

#include <QObject>
#include <QString>
#include <memory>

class QProcess;

namespace morvane {

class BrowserLink;
struct LinkMessage;

// The browser window in a process of its own (the program started again with
// kBrowserWindowArgument), so that the web engine's libraries and state, a few hundred MB,
// go with the window instead of staying in the program for the rest of its life. A process
// is started for each opening of the window and ends when the window closes.
//
// The window's process reads the page and writes the file itself; this side shows what it
// reports, puts its picture on the program's clipboard (which outlives the window's process),
// and keeps the main window disabled while the window is open.
class BrowserProcess final : public QObject, public WebBrowser {
    Q_OBJECT

public:
    // program: the program's own file, started with kBrowserWindowArgument.
    BrowserProcess(const WebCaptureContext& context, QString program);
    // A window still open is told to close and given a moment to, then ended.
    ~BrowserProcess() override;
    BrowserProcess(const BrowserProcess&) = delete;
    BrowserProcess& operator=(const BrowserProcess&) = delete;

    void openAddress(const QString& address) override;
    bool pageCaptureRunning() const override { return capturing_; }
    void closeBrowser() override;

private:
    bool start();
    void handle(const LinkMessage& message);
    // The window's process is gone, as asked or not.
    void ended();
    // The window closed; its process is on its way out.
    void windowClosed();
    void setMainEnabled(bool enabled);

    WebCaptureContext context_;
    QString program_;
    std::unique_ptr<QProcess> process_;
    std::unique_ptr<BrowserLink> link_;
    bool capturing_ = false;
    bool closing_ = false;    // asked to close: its end is no surprise
    bool gotPicture_ = false; // the capture's picture came before its end
};

// The argument that starts the program as a browser window's process; the descriptor of its
// end of the link is in the environment variable kBrowserLinkVariable.
inline constexpr const char* kBrowserWindowArgument = "--browser-window";
inline constexpr const char* kBrowserLinkVariable = "MORVANE_BROWSER_LINK";
// The window's process ends with this when it could not make the window and has told the
// user why itself (no browser module, say).
inline constexpr int kBrowserToldStatus = 3;

} // namespace morvane
