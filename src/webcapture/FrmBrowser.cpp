#include "FrmBrowser.h"

#include "GuardedPage.h"
#include "PageScript.h"
#include "capture/BrowserView.h"
#include "capture/CaptureFile.h"
#include "common/Log.h"
#include "common/Prompts.h"
#include "common/Twips.h"
#include "platform/Desktop.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>

namespace morvane {

namespace {

struct ToolButton {
    const char* key;
    const char* tip;
    const char* icon;
};

constexpr ToolButton kButtons[] = {
    {"Back", "返回", ":/web-back.png"},        {"Forward", "向前", ":/web-forward.png"},
    {"Stop", "停止", ":/web-stop.png"},        {"Refresh", "刷新", ":/web-refresh.png"},
    {"Home", "主页", ":/web-home.png"},        {"Search", "搜索", ":/web-search.png"},
    {"gdzt", "滚动抓图", ":/web-capture.png"},
};

} // namespace

frmBrowser::frmBrowser(const WebCaptureContext& context)
    : QWidget(nullptr, Qt::Window), context_(context) {
    setAttribute(Qt::WA_DeleteOnClose);
    if (context_.mainWindow) {
        setWindowIcon(context_.mainWindow->windowIcon());
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    tbToolBar = new QToolBar(this);
    tbToolBar->setIconSize(QSize(24, 24));
    for (const ToolButton& button : kButtons) {
        QAction* action = tbToolBar->addAction(QIcon(QString::fromLatin1(button.icon)),
                                               QString::fromUtf8(button.tip));
        action->setToolTip(QString::fromUtf8(button.tip));
        action->setData(QString::fromLatin1(button.key));
        connect(action, &QAction::triggered, this,
                [this, key = QString::fromLatin1(button.key)] { tbToolBar_ButtonClick(key); });
    }
    layout->addWidget(tbToolBar);
    // Below the toolbar's lower edge, never seen: it takes the focus away from the page
    // while a capture runs, so that no caret or focus ring is photographed.
    Command1 = new QPushButton(QStringLiteral("Command1"), tbToolBar);
    Command1->setGeometry(256, 48, 73, 25);

    picAddress = new QWidget(this);
    auto* addressRow = new QVBoxLayout(picAddress);
    addressRow->setContentsMargins(3, 4, 3, 4);
    addressRow->setSpacing(2);
    lblAddress = new QLabel(QStringLiteral("地址(&A):"), picAddress);
    cboAddress = new QComboBox(picAddress);
    cboAddress->setEditable(true);
    cboAddress->setCompleter(nullptr);
    cboAddress->setInsertPolicy(QComboBox::NoInsert);
    lblAddress->setBuddy(cboAddress);
    addressRow->addWidget(lblAddress);
    addressRow->addWidget(cboAddress);
    cboAddress->lineEdit()->installEventFilter(this);
    layout->addWidget(picAddress);

    // The page's view inside a 2-pixel frame: the view less the frame is the page's area.
    viewFrame = new QFrame(this);
    viewFrame->setFrameShape(QFrame::Box);
    viewFrame->setLineWidth(kViewBorder);
    auto* frameLayout = new QVBoxLayout(viewFrame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    brwWebBrowser = new QWebEngineView(viewFrame);
    brwWebBrowser->setPage(new GuardedPage(capturing_, brwWebBrowser));
    frameLayout->addWidget(brwWebBrowser);
    // The view keeps margins of 45 twips on the left, 100 twips less than the window's
    // width and 100 twips below.
    const TwipsPerPixel tpp = twipsPerPixelForDpi(logicalDpiX(), logicalDpiY());
    auto* viewRow = new QVBoxLayout;
    const int left = twipsToPixels(45, tpp.x);
    viewRow->setContentsMargins(left, 0, twipsToPixels(100, tpp.x) - left,
                                twipsToPixels(100, tpp.y));
    viewRow->addWidget(viewFrame);
    layout->addLayout(viewRow, 1);
    // The view's place is also given as a child X window with the class a browser's view
    // has, so that the capture finds it among the window's children as in any browser.
    // The page is drawn into the top-level window, so this window is never mapped: it only
    // follows the frame's place and size.
    viewFrame->installEventFilter(this);

    // Esc cancels a running capture; at other times the key is the page's.
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape_->setContext(Qt::WindowShortcut);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, &frmBrowser::cancelCapture);

    timTimer = new QTimer(this);
    timTimer->setInterval(5);
    connect(timTimer, &QTimer::timeout, this, &frmBrowser::timTimer_Timer);
    connect(brwWebBrowser, &QWebEngineView::loadFinished, this, [this] {
        loadPending_ = false;
        if (capturing_) {
            return; // the capture's own checks see a new document
        }
        // Asked without waiting: a page that keeps its script busy would otherwise hold the
        // window (and its close) for as long as the wait lasts.
        // The page answers (with nothing) as it is destroyed with the window, after the
        // window's own destructor has run: the flag says so, without touching the window.
        brwWebBrowser->page()->runJavaScript(
            scrollProbeScript(), PageScript::kWorld,
            [this, alive = alive_](const QVariant& answer) {
                if (!*alive || capturing_ || closed_) {
                    return;
                }
                applyScrollProbe(answer);
                if (!scrollElement_.isEmpty()) {
                    brwWebBrowser->page()->runJavaScript(
                        scrollElement_ + QStringLiteral(".scrollTop = 0;"), PageScript::kWorld);
                }
            });
    });

    if (context_.mainWindow) {
        context_.mainWindow->setEnabled(false);
    }
    move(0, 0);
}

frmBrowser::~frmBrowser() {
    *alive_ = false;
}

void frmBrowser::closeEvent(QCloseEvent* event) {
    if (capturing_) {
        // The capture is unwinding on this thread's stack: it ends first, puts the page
        // back, and closes the window then.
        closeAfterCapture_ = true;
        cancelCapture();
        event->ignore();
        return;
    }
    closed_ = true;
    if (context_.mainWindow) {
        context_.mainWindow->setEnabled(true);
    }
    event->accept();
}

bool frmBrowser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewFrame &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
        placeViewWindow();
    }
    if (watched == cboAddress->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (capturing_) {
            return true; // the address stays as it is while a capture runs
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            cboAddress_Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmBrowser::cboAddress_Click() {
    timTimer->start();
    loadPending_ = true;
    brwWebBrowser->load(QUrl::fromUserInput(cboAddress->currentText()));
}

void frmBrowser::timTimer_Timer() {
    // A load just asked for may not have started yet; it counts as busy until it finishes.
    if (loadPending_ || brwWebBrowser->page()->isLoading()) {
        setWindowTitle(QStringLiteral("正在工作..."));
    } else {
        timTimer->stop();
        setWindowTitle(brwWebBrowser->title());
    }
}

void frmBrowser::tbToolBar_ButtonClick(const QString& key) {
    if (capturing_) {
        // One capture at a time, and the page must not move under it; "Stop" cancels it.
        if (key == QLatin1String("Stop")) {
            cancelCapture();
        }
        return;
    }
    timTimer->start();
    if (key == QLatin1String("Back")) {
        brwWebBrowser->back();
    } else if (key == QLatin1String("Forward")) {
        brwWebBrowser->forward();
    } else if (key == QLatin1String("Refresh")) {
        brwWebBrowser->reload();
    } else if (key == QLatin1String("Home") || key == QLatin1String("Search")) {
        // This browser keeps no home or search page of its own: the first page it showed.
        const QWebEngineHistory* history = brwWebBrowser->history();
        if (history->count() > 0) {
            brwWebBrowser->load(history->itemAt(0).url());
        }
    } else if (key == QLatin1String("Stop")) {
        timTimer->stop();
        brwWebBrowser->stop();
        setWindowTitle(brwWebBrowser->title());
        close();
    } else if (key == QLatin1String("gdzt")) {
        StartPageCapture();
    }
}

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
        ScreenPagePixels pixels(*context_.desktop, viewOnScreen().topLeft());
        PageCapture capture(scripts, pixels);
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
    brwWebBrowser->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    escape_->setEnabled(false);
    brwWebBrowser->setFocusPolicy(focusPolicy);
    endCapture(result);
}

void frmBrowser::endCapture(const std::optional<PageCaptureResult>& result) {
    using Ending = PageCaptureResult::Ending;
    if (result && result->ending == Ending::Done) {
        writePage(result->image);
        return;
    }
    keepOnTop(false);
    setWindowTitle(brwWebBrowser->title());
    const auto message = [this](const QString& text) {
        context_.prompts->message(text, MessageScope::System);
    };
    const auto report = [this](const QString& reason) {
        if (context_.report) {
            context_.report(CaptureOutcome::nothing(reason));
        }
    };
    switch (result ? result->ending : Ending::Done) {
    case Ending::Done: // no result: nothing scrolls
        qCWarning(lcMorvane) << "page capture ended: the page has no scrolling element";
        report(QStringLiteral("网页中没有可以滚动的内容"));
        break;
    case Ending::Cancelled:
        qCInfo(lcMorvane) << "page capture cancelled: no file written";
        break;
    case Ending::Navigated:
        qCWarning(lcMorvane) << "page capture stopped: the page went to another address";
        message(QStringLiteral("抓图已停止：网页转到了别的地址"));
        break;
    case Ending::Unsteady:
        qCWarning(lcMorvane) << "page capture stopped: the page does not stay where it is "
                                "scrolled";
        message(QStringLiteral("抓图已停止：网页不停留在滚动到的位置"));
        break;
    case Ending::Changed:
        qCWarning(lcMorvane) << "page capture stopped: the page keeps undoing the capture's "
                                "changes";
        message(QStringLiteral("抓图已停止：网页不断撤销抓图对它的调整"));
        break;
    case Ending::NoAnswer:
        qCWarning(lcMorvane) << "page capture ended: the page did not answer";
        message(QStringLiteral("抓图失败：网页没有应答"));
        break;
    case Ending::TooLarge:
        qCInfo(lcMorvane) << "page capture refused: the page is too large for one image"
                          << result->size;
        message(QStringLiteral("网页太大，无法抓图（最多 %1 像素）").arg(kMaxPagePixels));
        break;
    case Ending::NoMemory:
        qCWarning(lcMorvane) << "page capture ended: no memory for a page image of" << result->size;
        report(QStringLiteral("内存不足，无法存放整个网页的图像"));
        break;
    }
    if (closeAfterCapture_) {
        close();
    }
}

void frmBrowser::writePage(const QImage& page) {
    context_.clipboard->setImage(page);
    // A page's file is named "temp" and a number only. When it cannot be written the window
    // stays open, above the others, as the capture left it; the routine logs why.
    const CaptureFileResult result = writeCaptureFile(context_.saveFolder(), QString(), page);
    if (context_.report) {
        context_.report(CaptureOutcome::of(result));
    }
    if (!result.written()) {
        setWindowTitle(brwWebBrowser->title());
        if (closeAfterCapture_) {
            close();
        }
        return;
    }
    const QString& path = result.path;
    lastFile_ = path;
    scrollElement_.clear();
    keepOnTop(false);
    lower();
    // One pass from the left, without overlaps: "///" shows as "//".
    QString shown = path;
    shown.replace(QLatin1String("//"), QLatin1String("/"));
    context_.prompts->message(QStringLiteral("完成抓图\r\n输出到") + shown, MessageScope::System);
    close();
}

} // namespace morvane
