#include "BrowserWindowProcess.h"

#include "common/Log.h"
#include "common/Prompts.h"
#include "platform/Clipboard.h"
#include "platform/Desktop.h"
#include "shell/BrowserLink.h"
#include "shell/BrowserProcess.h"
#include "webcapture/WebLoader.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QJsonObject>
#include <QTimer>
#include <QWidget>
#include <fcntl.h>

namespace morvane {

namespace {

// The window's pictures go to the program, whose clipboard outlives this process.
class LinkClipboard final : public ClipboardSink {
public:
    explicit LinkClipboard(BrowserLink& link) : link_(link) {}
    void setImage(const QImage& image) override { link_.sendPicture(image); }

private:
    BrowserLink& link_;
};

// Stands in for the program's main window, which the browser window disables while it is
// open: each change is passed on to the program, and the window's closing ends the process.
class MainStandIn final : public QWidget {
public:
    explicit MainStandIn(BrowserLink& link) : link_(link) {
        setWindowIcon(QIcon(QStringLiteral(":/icon.png")));
    }

protected:
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::EnabledChange) {
            link_.send({{QStringLiteral("enabled"), isEnabled()}});
            if (isEnabled()) {
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            }
        }
        QWidget::changeEvent(event);
    }

private:
    BrowserLink& link_;
};

} // namespace

int runBrowserWindowProcess(SessionKind session) {
    bool isNumber = false;
    const int fd = qEnvironmentVariableIntValue(kBrowserLinkVariable, &isNumber);
    if (!isNumber || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
        qCWarning(lcMorvane) << "browser window: started without its link to the program";
        return 2;
    }
    // The web engine's own processes are not given the link.
    qunsetenv(kBrowserLinkVariable);
    BrowserLink link(fd);
    MainStandIn standIn(link);
    QtPrompts prompts;
    LinkClipboard clipboard(link);
    // The screen is read on X; on Wayland the page's pixels come from the view's rendering.
    const bool pixelsFromView = isWaylandSession(session);
    std::unique_ptr<Desktop> desktop;
    if (!pixelsFromView) {
        desktop = makeDesktopServices(session).desktop;
    }
    QString folder;
    WebCaptureContext context;
    context.mainWindow = &standIn;
    context.saveFolder = [&folder] { return folder; };
    context.prompts = &prompts;
    context.desktop = desktop.get();
    context.clipboard = &clipboard;
    context.pixelsFromView = pixelsFromView;
    context.report = [&link](const CaptureOutcome& outcome) { link.send(outcomeMessage(outcome)); };
    context.captureRunning = [&link](bool running) {
        link.send({{QStringLiteral("capturing"), running}});
    };
    // Without the module the user has been told why, through the prompts.
    std::unique_ptr<WebBrowser> browser = loadWebBrowser(context);
    if (!browser) {
        return kBrowserToldStatus;
    }
    QObject::connect(&link, &BrowserLink::received, &link, [&](const LinkMessage& message) {
        const QJsonObject& json = message.json;
        if (json.contains(QStringLiteral("open"))) {
            // A request while a capture runs is turned away, as the program's own are.
            if (!browser->pageCaptureRunning()) {
                folder = json.value(QStringLiteral("folder")).toString();
                browser->openAddress(json.value(QStringLiteral("open")).toString());
            }
        } else if (json.contains(QStringLiteral("close"))) {
            browser->closeBrowser();
        }
    });
    // The program is gone: the window closes (a capture is cancelled first).
    QObject::connect(&link, &BrowserLink::ended, &link, [&] {
        browser->closeBrowser();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
    const int status = QApplication::exec();
    browser.reset();
    // The web engine must see its pages go before itself.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}

} // namespace morvane
