// The whole-page capture as the browser window runs it: the page held still, the view found
// on the screen (or read from its own rendering), the progress in the caption, and how the
// capture ended told.
#include "FrmBrowser.h"

#include "PageEnding.h"
#include "PageScript.h"
#include "ViewPagePixels.h"
#include "capture/BrowserView.h"
#include "capture/CaptureOutcome.h"
#include "common/Prompts.h"
#include "platform/Desktop.h"

#include <QFrame>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QWebEngineView>
#include <QWindow>
#include <memory>

namespace morvane {

void frmBrowser::ChooseScrollElement(PageScripts& scripts) {
    if (const auto answer = scripts.run(scrollProbeScript(), 5000)) {
        applyScrollProbe(*answer);
    }
}

void frmBrowser::applyScrollProbe(const QVariant& answer) {
    if (const auto element = scrollElementFor(answer, viewFrame->size())) {
        scrollElement_ = *element;
    }
}

void frmBrowser::keepOnTop(bool onTop) {
    // Set on the native window, which changes its state in place. The widget's own flag
    // would make the window anew: it would vanish, be placed again by the window manager
    // and come back under another number.
    if (QWindow* window = windowHandle()) {
        window->setFlag(Qt::WindowStaysOnTopHint, onTop);
    }
    if (onTop) {
        raise();
    }
}

void frmBrowser::placeViewWindow() {
    if (context_.pixelsFromView) {
        return; // no X window ids: the view is read from its own rendering, never looked for
    }
    // The X window lies in device pixels, the widgets in logical ones.
    const QRectF logical(viewFrame->mapTo(this, QPoint(0, 0)), viewFrame->size());
    const qreal ratio = devicePixelRatioF();
    viewMark_.place(static_cast<WindowId>(internalWinId()),
                    QRectF(logical.topLeft() * ratio, logical.size() * ratio).toRect());
}

QRect frmBrowser::viewOnScreen() {
    // The view window less its border is the page's visible area.
    for (int attempt = 0; attempt < 2; ++attempt) {
        placeViewWindow();
        const WindowId view = FindBrowserView(*context_.desktop, static_cast<WindowId>(winId()));
        const QRect frame = view ? context_.desktop->windowRect(view) : QRect();
        if (frame.isValid()) {
            // The frame is drawn in logical pixels: on a scaled screen it is wider.
            const int border = qRound(kViewBorder * devicePixelRatioF());
            return frame.adjusted(border, border, -border, -border);
        }
        // Gone with a top-level window that Qt made anew: make it again.
        viewMark_.forget();
    }
    // Without a view window, the view's place comes from the widgets: the same place.
    const qreal ratio = devicePixelRatioF();
    return QRectF(QPointF(brwWebBrowser->mapToGlobal(QPoint(0, 0))) * ratio,
                  QSizeF(brwWebBrowser->size()) * ratio)
        .toRect();
}

void frmBrowser::showProgress(int percent) {
    // At most ten captions a second: each is a round trip to the window manager.
    if (percent == progressShown_ ||
        (progressShownAt_.isValid() && progressShownAt_.elapsed() < 100)) {
        return;
    }
    progressShown_ = percent;
    progressShownAt_.start();
    setWindowTitle(QStringLiteral("正在抓图 %1%").arg(percent));
}

void frmBrowser::cancelCapture() {
    if (running_) {
        running_->cancel();
    }
}

void frmBrowser::StartPageCapture() {
    capturing_ = true;
    if (context_.captureRunning) {
        context_.captureRunning(true);
    }
    progressShown_ = -1;
    progressShownAt_.invalidate();
    lastFile_.clear();
    // The page takes no pointer or keys while it is photographed; the window's buttons, Esc
    // and closing the window still get through.
    brwWebBrowser->setAttribute(Qt::WA_TransparentForMouseEvents, true);
    escape_->setEnabled(true);
    const Qt::FocusPolicy focusPolicy = brwWebBrowser->focusPolicy();
    brwWebBrowser->setFocusPolicy(Qt::NoFocus);
    Command1->setFocus();
    // Every call on the scripts may wait, and the window is not touched after one before
    // self says it still exists (PageScript.h).
    const QPointer<frmBrowser> self(this);
    PageScript scripts(*brwWebBrowser->page(), *this);
    running_ = &scripts;
    ChooseScrollElement(scripts);
    if (!self) {
        return;
    }
    std::optional<PageCaptureResult> result;
    if (!scrollElement_.isEmpty()) {
        // From the screen where it can be read, else from the view's own rendering.
        std::unique_ptr<PagePixels> pixels;
        if (context_.pixelsFromView) {
            pixels = std::make_unique<ViewPagePixels>(*brwWebBrowser);
        } else {
            pixels =
                std::make_unique<ScreenPagePixels>(*context_.desktop, viewOnScreen().topLeft());
        }
        PageCapture capture(scripts, *pixels);
        capture.progress = [self](int percent) {
            if (self) {
                self->showProgress(percent);
            }
        };
        capture.copying = [self] {
            if (self) {
                self->keepOnTop(true);
            }
        };
        result = capture.run(QString(scrollElement_));
        if (!self) {
            return;
        }
    }
    running_ = nullptr;
    capturing_ = false;
    if (context_.captureRunning) {
        context_.captureRunning(false);
    }
    brwWebBrowser->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    escape_->setEnabled(false);
    brwWebBrowser->setFocusPolicy(focusPolicy);
    endCapture(result);
}

void frmBrowser::endCapture(const std::optional<PageCaptureResult>& result) {
    if (result && result->ending == PageCaptureResult::Ending::Done) {
        writePage(result->image);
        return;
    }
    keepOnTop(false);
    setWindowTitle(brwWebBrowser->title());
    const PageNotice notice = noticeFor(result);
    if (notice.way == PageNotice::Way::Message) {
        context_.prompts->message(notice.text, MessageScope::System);
    } else if (notice.way == PageNotice::Way::Report && context_.report) {
        context_.report(CaptureOutcome::nothing(notice.text));
    }
    if (closeAfterCapture_) {
        close();
    }
}

void frmBrowser::writePage(const QImage& page) {
    lastFile_ = savePage(context_, page);
    if (lastFile_.isEmpty()) {
        // The window stays open, above the others, as the capture left it.
        setWindowTitle(brwWebBrowser->title());
        if (closeAfterCapture_) {
            close();
        }
        return;
    }
    scrollElement_.clear();
    keepOnTop(false);
    lower();
    context_.prompts->message(pageSavedMessage(lastFile_), MessageScope::System);
    close();
}

} // namespace morvane
