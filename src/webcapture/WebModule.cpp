// The browser module's entry: made into a library of its own and loaded on first use.
#include "WebModule.h"
#include "FrmBrowser.h"
#include "common/Log.h"
#include "common/Prompts.h"
#include "common/WebAddress.h"
#include "common/WebHost.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QPointer>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QScreen>
#include <unistd.h>

namespace morvane {

namespace {

class BrowserWindow final : public WebBrowser {
public:
    explicit BrowserWindow(const WebCaptureContext& context) : context_(context) {}

    // Shows the window (made anew after it was closed), puts the address into its box and
    // navigates there.
    void openAddress(const QString& address) override {
        // An address read from another window is only opened as a web page.
        if (!isWebAddress(address)) {
            qCWarning(lcMorvane) << "web capture request refused: not a web address:" << address;
            context_.prompts->message(QStringLiteral("请将鼠标悬停在网页浏览器的地址栏上"),
                                      MessageScope::System);
            return;
        }
        if (!window_ || window_->isClosed()) {
            window_ = new frmBrowser(context_);
            // Filling the screen's free area first, in case the window manager does not
            // maximise a window as it appears.
            if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                window_->setGeometry(screen->availableGeometry());
            }
            window_->showMaximized();
        }
        window_->show();
        window_->raise();
        window_->cboAddress->setEditText(addressForDisplay(address));
        window_->cboAddress_Click();
    }

    // A capture's waits keep input on: a request arriving then is turned away by the
    // dispatcher before it looks at the screen.
    bool pageCaptureRunning() const override { return window_ && window_->isCapturing(); }

    void closeBrowser() override {
        if (window_) {
            window_->close();
        }
    }

private:
    WebCaptureContext context_;
    QPointer<frmBrowser> window_;
};

} // namespace

} // namespace morvane

extern "C" Q_DECL_EXPORT morvane::WebBrowser*
morvane_create_web_browser(const morvane::WebCaptureContext* context) {
    // The web engine's sandbox cannot run as root; everyone else keeps it.
    if (::geteuid() == 0) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // The page is drawn straight into the window's memory rather than through OpenGL. A
    // whole-page capture copies the screen after each scroll, and on a display without
    // hardware acceleration every frame through emulated OpenGL costs a full read-back,
    // which made a capture four times slower. A backend chosen by the user is kept.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND")) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }
    return new morvane::BrowserWindow(*context);
}
