#include "FrmBrowser.h"

#include "capture/BrowserView.h"
#include "capture/CaptureFile.h"
#include "common/Log.h"
#include "common/Prompts.h"
#include "common/Twips.h"
#include "platform/Desktop.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <QWindow>
#include <memory>

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

// The largest page image held: 100 million pixels, 400 MB at 32 bits a pixel (1920 x 52083,
// 1280 x 78125). More would ask a desktop for memory no capture should take; the file is
// written in pieces, so the image is the only copy of that size.
constexpr qint64 kMaxPagePixels = 100'000'000;

const QString kMarkerId = QStringLiteral("__morvane_settle_marker");

// Which of the root element and the body scrolls, and their visible sizes.
const char* const kScrollProbe = R"((function () {
        var r = document.documentElement, b = document.body, a = {root: !!r, body: !!b};
        if (r && b) {
            r.scrollTop = 1; r.scrollLeft = 1; b.scrollTop = 1; b.scrollLeft = 1;
            a.rt = r.scrollTop; a.rl = r.scrollLeft; a.bt = b.scrollTop; a.bl = b.scrollLeft;
            a.rw = r.clientWidth; a.rh = r.clientHeight; a.bw = b.clientWidth; a.bh = b.clientHeight;
            r.scrollTop = 0; r.scrollLeft = 0; b.scrollTop = 0; b.scrollLeft = 0;
        }
        return JSON.stringify(a);
    })())";

// The page of the browser window. A page's script dialogs are shown as a browser shows them,
// but only the first few of each page: a page that opens them in a loop would otherwise hold
// the window for good. During a capture none is shown (it would be photographed, and wait).
class GuardedPage final : public QWebEnginePage {
public:
    GuardedPage(const bool& capturing, QObject* parent)
        : QWebEnginePage(parent), capturing_(capturing) {
        connect(this, &QWebEnginePage::loadStarted, this, [this] { shown_ = 0; });
    }

protected:
    void javaScriptAlert(const QUrl& origin, const QString& text) override {
        if (allow()) {
            QWebEnginePage::javaScriptAlert(origin, text);
        }
    }
    bool javaScriptConfirm(const QUrl& origin, const QString& text) override {
        return allow() && QWebEnginePage::javaScriptConfirm(origin, text);
    }
    bool javaScriptPrompt(const QUrl& origin, const QString& text, const QString& value,
                          QString* result) override {
        return allow() && QWebEnginePage::javaScriptPrompt(origin, text, value, result);
    }

private:
    static constexpr int kDialogsShown = 3;

    bool allow() {
        if (capturing_ || shown_ >= kDialogsShown) {
            if (suppressed_++ == 0) {
                qCInfo(lcMorvane) << "a page's script dialog was suppressed"
                                  << (capturing_ ? "during a capture" : "after the first few");
            }
            return false;
        }
        ++shown_;
        return true;
    }

    const bool& capturing_;
    int shown_ = 0;
    int suppressed_ = 0;
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
            QLatin1String(kScrollProbe), QWebEngineScript::ApplicationWorld,
            [this, alive = alive_](const QVariant& answer) {
                if (!*alive || capturing_ || closed_) {
                    return;
                }
                applyScrollProbe(answer);
                if (!scrollElement_.isEmpty()) {
                    sendScript(scrollElement_ + QStringLiteral(".scrollTop = 0;"));
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

void frmBrowser::sendScript(const QString& script) {
    brwWebBrowser->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld);
}

std::optional<QVariant> frmBrowser::runScript(const QString& script, int timeoutMs) {
    // Once a capture is cancelled, or the window closed, nothing more is waited for: a page
    // whose script never ends would hold every later wait to its time limit.
    if ((capturing_ && cancelled_) || closed_) {
        return std::nullopt;
    }
    // A local loop makes the answer synchronous; an answer after the time is up finds its
    // loop gone and is dropped.
    QEventLoop loop;
    auto answer = std::make_shared<std::optional<QVariant>>();
    auto waiting = std::make_shared<bool>(true);
    QEventLoop* loopPointer = &loop;
    // The program's scripts run in a world of their own: the page's scripts share the
    // document with them but cannot see or replace what they define.
    brwWebBrowser->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                         [answer, waiting, loopPointer](const QVariant& v) {
                                             if (*waiting) {
                                                 *answer = v;
                                                 loopPointer->quit();
                                             }
                                         });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    // While a capture runs the user's input is handled, so that it can be cancelled even
    // when the page does not answer; a cancel ends this wait.
    // Only a capture waits, and the window is not closed under a capture (closeEvent), so the
    // window outlives the loop; the guard makes sure of it.
    const QPointer<frmBrowser> self(this);
    QEventLoop* outer = waiting_;
    if (capturing_) {
        waiting_ = &loop;
        loop.exec();
    } else {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    *waiting = false;
    if (!self) {
        return std::nullopt;
    }
    waiting_ = outer;
    return *answer;
}

std::optional<int> frmBrowser::readMetric(const char* property) {
    if (scrollElement_.isEmpty()) {
        return std::nullopt;
    }
    const auto value =
        runScript(QStringLiteral("%1.%2").arg(scrollElement_, QString::fromLatin1(property)));
    bool ok = false;
    const int result = value ? value->toInt(&ok) : 0;
    return ok ? std::optional<int>(result) : std::nullopt;
}

void frmBrowser::writeMetric(const char* property, int value) {
    if (!scrollElement_.isEmpty()) {
        runScript(QStringLiteral("%1.%2 = %3;")
                      .arg(scrollElement_, QString::fromLatin1(property))
                      .arg(value));
    }
}

void frmBrowser::ChooseScrollElement() {
    if (const auto answer = runScript(QLatin1String(kScrollProbe))) {
        applyScrollProbe(*answer);
    }
}

void frmBrowser::applyScrollProbe(const QVariant& answer) {
    const QJsonObject a = QJsonDocument::fromJson(answer.toString().toUtf8()).object();
    const ScrollProbe root{
        a.value(QStringLiteral("root")).toBool(), a.value(QStringLiteral("rt")).toInt(),
        a.value(QStringLiteral("rl")).toInt(), a.value(QStringLiteral("rw")).toInt(),
        a.value(QStringLiteral("rh")).toInt()};
    const ScrollProbe body{
        a.value(QStringLiteral("body")).toBool(), a.value(QStringLiteral("bt")).toInt(),
        a.value(QStringLiteral("bl")).toInt(), a.value(QStringLiteral("bw")).toInt(),
        a.value(QStringLiteral("bh")).toInt()};
    switch (chooseScrollElement(root, body, viewFrame->size())) {
    case ScrollChoice::Root:
        scrollElement_ = QStringLiteral("document.documentElement");
        break;
    case ScrollChoice::Body:
        scrollElement_ = QStringLiteral("document.body");
        break;
    case ScrollChoice::Keep:
        break;
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

namespace {

// The page's side of a capture, run in a script world of its own so that the page's scripts
// can neither see nor change it. prepare() makes the page hold still for the copies and
// measures what scrolls; every style it changes is noted and put back by restore().
//  - Sticky elements are placed as relative ones at their place in the page's flow, so that
//    they appear once, where they belong, instead of pinned into every band.
//  - Fixed elements show in the first view only; step() hides them for the later copies.
//  - Scroll snapping and smooth scrolling are off: a scroll must land where it is sent.
//  - When neither the root nor the body scrolls down but an element covering at least half
//    the view does, that element's content is the page.
// step() scrolls, places the settle marker and answers the position before and after,
// and the number of images in view still loading.
const char* const kPageSide = R"JS((function (chosen, markId) {
    if (window.__morvane) window.__morvane.restore();
    var M = window.__morvane = {saved: [], fixed: [], hidden: false, x: 0, y: 0};
    var r = document.documentElement, b = document.body, iw = innerWidth, ih = innerHeight;
    function set(e, p, v) {
        M.saved.push([e, p, e.style.getPropertyValue(p), e.style.getPropertyPriority(p)]);
        e.style.setProperty(p, v, 'important');
    }
    var all = document.querySelectorAll('*'), sticky = [], calm = [], smooth = [], boxes = [];
    for (var i = 0; i < all.length; ++i) {
        var e = all[i], cs = getComputedStyle(e);
        if (e.id === markId) continue;
        if (cs.position === 'sticky') sticky.push(e);
        else if (cs.position === 'fixed')
            M.fixed.push([e, e.style.getPropertyValue('visibility'),
                          e.style.getPropertyPriority('visibility')]);
        if (cs.scrollSnapType && cs.scrollSnapType !== 'none') calm.push(e);
        if (cs.scrollBehavior === 'smooth') smooth.push(e);
        if (/auto|scroll|overlay/.test(cs.overflowY)) boxes.push(e);
    }
    sticky.forEach(function (e) {
        set(e, 'position', 'relative');
        ['top', 'bottom', 'left', 'right'].forEach(function (p) { set(e, p, 'auto'); });
    });
    calm.forEach(function (e) { set(e, 'scroll-snap-type', 'none'); });
    smooth.forEach(function (e) { set(e, 'scroll-behavior', 'auto'); });
    function scrolls(e, across) {
        if (!e) return false;
        var p = across ? 'scrollLeft' : 'scrollTop', t = e[p];
        e[p] = t + 1;
        var moved = e[p] !== t;
        e[p] = t;
        return moved;
    }
    // The element chosen before snapping was turned off may not be the one that scrolls now.
    var el = chosen;
    if (!scrolls(el) && !scrolls(el, true))
        el = [r, b].filter(function (e) { return scrolls(e) || scrolls(e, true); })[0] || el;
    var w = Math.min(el.clientWidth, iw), h = Math.min(el.clientHeight, ih);
    if (document.compatMode === 'CSS1Compat') {
        w = Math.min(w, r.clientWidth); h = Math.min(h, r.clientHeight);
    }
    if (!scrolls(r) && !scrolls(b)) {
        var best = null, most = 0;
        boxes.forEach(function (e) {
            if (e === r || e === b || e.scrollHeight <= e.clientHeight) return;
            var q = e.getBoundingClientRect();
            var a = Math.max(0, Math.min(q.right, iw) - Math.max(q.left, 0)) *
                    Math.max(0, Math.min(q.bottom, ih) - Math.max(q.top, 0));
            if (q.left >= 0 && q.top >= 0 && 2 * a >= iw * ih && a > most && scrolls(e)) {
                best = e; most = a;
            }
        });
        if (best) {
            var q = best.getBoundingClientRect();
            el = best;
            M.x = Math.round(q.left + best.clientLeft); M.y = Math.round(q.top + best.clientTop);
            w = Math.min(best.clientWidth, iw - M.x); h = Math.min(best.clientHeight, ih - M.y);
        }
    }
    M.el = el;
    el.scrollTop = 0; el.scrollLeft = 0;
    M.pending = function () {
        var n = 0, im = document.images;
        for (var i = 0; i < im.length; ++i) {
            if (im[i].complete) continue;
            var q = im[i].getBoundingClientRect();
            if (q.width > 0 && q.height > 0 && q.bottom > 0 && q.top < ih && q.right > 0 &&
                q.left < iw) ++n;
        }
        return n;
    };
    M.show = function (visible) {
        if (visible !== M.hidden) return;
        M.hidden = !visible;
        M.fixed.forEach(function (f) {
            if (M.hidden) f[0].style.setProperty('visibility', 'hidden', 'important');
            else f[0].style.setProperty('visibility', f[1], f[2]);
        });
    };
    M.step = function (top, left, mx, my, colour, hide) {
        var e = M.el, before = [e.scrollTop, e.scrollLeft];
        e.scrollTop = top; e.scrollLeft = left;
        M.show(!hide);
        var m = document.getElementById(markId);
        if (!m) { m = document.createElement('div'); m.id = markId; r.appendChild(m); }
        m.style.cssText = 'position:fixed;display:block;visibility:visible;margin:0;border:0;' +
            'padding:0;width:1px;height:1px;z-index:2147483647;pointer-events:none;left:' +
            (M.x + mx) + 'px;top:' + (M.y + my) + 'px;background:' + colour;
        // A filter or transform on the root makes "fixed" scroll with the page: put the
        // marker where the view shows it all the same.
        var q = m.getBoundingClientRect(), dx = Math.round(M.x + mx - q.left),
            dy = Math.round(M.y + my - q.top);
        if (dx || dy) {
            m.style.left = (M.x + mx + dx) + 'px';
            m.style.top = (M.y + my + dy) + 'px';
        }
        return [before[0], before[1], e.scrollTop, e.scrollLeft, M.pending()];
    };
    M.restore = function () {
        M.show(true);
        for (var i = M.saved.length - 1; i >= 0; --i) {
            var s = M.saved[i];
            s[0].style.setProperty(s[1], s[2], s[3]);
        }
        var m = document.getElementById(markId);
        if (m) m.remove();
        [M.el, r, b].forEach(function (e) { if (e) { e.scrollTop = 0; e.scrollLeft = 0; } });
        delete window.__morvane;
        return true;
    };
    return JSON.stringify({x: M.x, y: M.y, w: w, h: h, sw: el.scrollWidth, sh: el.scrollHeight,
                           dpr: window.devicePixelRatio || 1});
}))JS";

// A rectangle of CSS pixels in device pixels, edges rounded, so that neighbours still meet.
QRect toDevice(const QRect& rect, double dpr) {
    const int left = qRound(rect.left() * dpr);
    const int top = qRound(rect.top() * dpr);
    return QRect(left, top, qRound((rect.left() + rect.width()) * dpr) - left,
                 qRound((rect.top() + rect.height()) * dpr) - top);
}

// How long a copy waits for images in view that are still loading, and for all of them.
constexpr int kImageWaitMs = 3000;
constexpr int kImageBudgetMs = 15000;
// Copies taken again because the page was not where it was sent, before the capture stops:
// a page that keeps moving itself gives no steady picture.
constexpr int kScrollTries = 10;

} // namespace

bool frmBrowser::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    QTimer wake;
    wake.setSingleShot(true);
    while (!done()) {
        if (cancelled_ || waited.elapsed() >= timeoutMs) {
            return false;
        }
        // The page's new frame reaches the window through this thread's events: wait for
        // them (or a millisecond), never sleep past them. The user's input is handled too,
        // so that Esc, "Stop" and closing the window reach a running capture.
        wake.start(1);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void frmBrowser::showProgress(int done, int total) {
    const int percent = total > 0 ? done * 100 / total : 0;
    // At most ten captions a second: each is a round trip to the window manager.
    if (percent == progressShown_ ||
        (progressShownAt_.isValid() && progressShownAt_.elapsed() < 100)) {
        return;
    }
    progressShown_ = percent;
    progressShownAt_.start();
    setWindowTitle(QStringLiteral("正在抓图 %1%").arg(percent));
}

frmBrowser::Stop frmBrowser::copyPage(QImage& page, const QJsonObject& view) {
    const int CW = view.value(QStringLiteral("w")).toInt();
    const int CH = view.value(QStringLiteral("h")).toInt();
    const double dpr = view.value(QStringLiteral("dpr")).toDouble(1.0);
    const PageMetrics metrics{view.value(QStringLiteral("sw")).toInt(),
                              view.value(QStringLiteral("sh")).toInt(), CW, CH};
    const std::vector<PageCopy> plan = planPageCapture(metrics);
    // The copies are read from the scrolling area's place on the screen, in device pixels.
    const QPoint origin =
        viewOnScreen().topLeft() + toDevice(QRect(view.value(QStringLiteral("x")).toInt(),
                                                  view.value(QStringLiteral("y")).toInt(), 1, 1),
                                            dpr)
                                       .topLeft();
    const auto spotPixel = [&](QPoint spot) -> QRgb {
        const QImage pixel = context_.desktop->grabScreen(
            QRect(origin + toDevice(QRect(spot, QSize(1, 1)), dpr).topLeft(), QSize(1, 1)));
        return pixel.isNull() ? 0u : pixel.pixel(0, 0) & 0xffffffu;
    };
    const QString colours[2] = {QStringLiteral("#000000"), QStringLiteral("#ffffff")};
    const auto step = [&](const PageCopy& copy, QPoint spot, int colour) -> QVariantList {
        const bool firstView = copy.scrollTop == 0 && copy.scrollLeft == 0;
        const auto answer = runScript(QStringLiteral("window.__morvane.step(%1,%2,%3,%4,'%5',%6)")
                                          .arg(copy.scrollTop)
                                          .arg(copy.scrollLeft)
                                          .arg(spot.x())
                                          .arg(spot.y())
                                          .arg(colours[colour])
                                          .arg(firstView ? 0 : 1));
        return answer ? answer->toList() : QVariantList();
    };
    // A stopped step: cancelled, or the document is another one (its capture state is gone).
    const auto stepFailed = [&] {
        if (cancelled_) {
            return Stop::Cancelled;
        }
        const auto state = runScript(QStringLiteral("typeof window.__morvane"), 1000);
        return state && state->toString() == QLatin1String("undefined") ? Stop::Navigated
                                                                        : Stop::Failed;
    };

    // The settle marker: a pixel placed where a copy does not read, changing colour in the
    // script that scrolls; once the screen shows the new colour, it shows the new position.
    // The colours are learnt from the screen first, as the page may render them otherwise
    // (a grey filter over the whole page, say).
    // The spot is read once it has changed and then stayed the same for a few frames: a
    // change may be the page's own (a picture arriving) before the marker shows.
    QRgb rendered[2] = {0, 0};
    const PageCopy firstView = plan.front();
    for (int colour = 0; colour < 2; ++colour) {
        const QRgb before = spotPixel(QPoint(0, 0));
        if (step(firstView, QPoint(0, 0), colour).isEmpty()) {
            return stepFailed();
        }
        waitUntil([&] { return spotPixel(QPoint(0, 0)) != before; }, 300);
        QElapsedTimer quiet;
        quiet.start();
        QRgb last = spotPixel(QPoint(0, 0));
        waitUntil(
            [&] {
                const QRgb now = spotPixel(QPoint(0, 0));
                if (now != last) {
                    last = now;
                    quiet.restart();
                }
                return quiet.elapsed() >= 40;
            },
            300);
        rendered[colour] = last;
    }
    if (cancelled_) {
        return Stop::Cancelled;
    }
    const bool markerShows = rendered[0] != rendered[1];
    if (!markerShows) {
        qCInfo(lcMorvane) << "page capture: the page hides the settle marker; waiting by time";
    }

    QPainter painter(&page);
    qint64 imageBudget = kImageBudgetMs;
    int tries = 0;
    int lastDone = -1; // the last copy taken
    for (int k = 0; k <= static_cast<int>(plan.size());) {
        showProgress(k, static_cast<int>(plan.size()));
        if (cancelled_) {
            return Stop::Cancelled;
        }
        if (tries >= kScrollTries) {
            return Stop::Unsteady;
        }
        const auto position = [&](int index) {
            const PageCopy& at = plan[static_cast<std::size_t>(index)];
            return QPoint(at.scrollLeft, at.scrollTop);
        };
        if (k == static_cast<int>(plan.size())) {
            // The last copy is good if the page is still where it was sent.
            const auto at = runScript(
                QStringLiteral("[window.__morvane.el.scrollLeft, window.__morvane.el.scrollTop]"));
            if (!at || at->toList().size() != 2) {
                return stepFailed();
            }
            const QVariantList xy = at->toList();
            if (lastDone >= 0 && QPoint(xy[0].toInt(), xy[1].toInt()) != position(lastDone)) {
                ++tries;
                k = lastDone;
                continue;
            }
            break;
        }
        const PageCopy& copy = plan[static_cast<std::size_t>(k)];
        if (copy.source.isEmpty()) {
            ++k;
            continue;
        }
        // A copy of the whole view is taken in two parts, so that the marker always lies
        // outside the part being read.
        const auto outside = [&](const QRect& part) -> std::optional<QPoint> {
            for (const QPoint spot :
                 {QPoint(0, 0), QPoint(CW - 1, CH - 1), QPoint(0, CH - 1), QPoint(CW - 1, 0)}) {
                if (!part.contains(spot)) {
                    return spot;
                }
            }
            return std::nullopt;
        };
        QList<QRect> parts{copy.source};
        if (!outside(copy.source)) {
            const QRect& s = copy.source;
            parts = {s.adjusted(0, 1, 0, 0), QRect(s.left(), s.top(), s.width(), 1)};
        }
        bool redo = false;
        for (int p = 0; p < parts.size() && !redo; ++p) {
            const QRect& part = parts[p];
            const QPoint spot = outside(part).value_or(QPoint(0, 0));
            // The colour the spot does not show now, so that its change can be seen.
            int colour = spotPixel(spot) == rendered[0] ? 1 : 0;
            QVariantList answer = step(copy, spot, colour);
            if (answer.size() != 5) {
                return stepFailed();
            }
            // The page must not have moved since the previous copy was read: a page that
            // scrolls itself would have put other rows there.
            const QPoint before(answer[1].toInt(), answer[0].toInt());
            if (lastDone >= 0 && before != position(lastDone)) {
                ++tries;
                k = lastDone;
                redo = true;
                break;
            }
            if (QPoint(answer[3].toInt(), answer[2].toInt()) != position(k)) {
                ++tries;
                waitUntil([] { return false; }, 50);
                redo = true;
                break;
            }
            if (answer[4].toInt() > 0 && imageBudget > 0) {
                // Images in view still loading: wait for them, within a bound, then show
                // their frame with another marker change.
                QElapsedTimer waited;
                waited.start();
                waitUntil(
                    [&] {
                        const auto n = runScript(QStringLiteral("window.__morvane.pending()"));
                        return !n || n->toInt() == 0;
                    },
                    static_cast<int>(std::min<qint64>(kImageWaitMs, imageBudget)));
                imageBudget -= waited.elapsed();
                if (imageBudget <= 0) {
                    qCInfo(lcMorvane) << "page capture: images still loading; taken as they are";
                }
                // Two marker changes: a picture that has just arrived may be drawn a frame
                // after the one that shows the first change.
                for (int change = 0; change < 2; ++change) {
                    colour = 1 - colour;
                    answer = step(copy, spot, colour);
                    if (answer.size() != 5) {
                        return stepFailed();
                    }
                    if (change == 0 && markerShows) {
                        waitUntil([&] { return spotPixel(spot) == rendered[colour]; }, 2000);
                    }
                }
            }
            if (markerShows) {
                if (!waitUntil([&] { return spotPixel(spot) == rendered[colour]; }, 2000) &&
                    !cancelled_) {
                    qCInfo(lcMorvane) << "page capture: a frame took over 2 s";
                }
            } else {
                waitUntil([] { return false; }, 60);
            }
            // The window's new picture goes to the display in several requests, the top
            // first: the marker may show before the rows below it. Wait until the display
            // has all of them.
            QGuiApplication::sync();
            if (cancelled_) {
                return Stop::Cancelled;
            }
            const QRect source = toDevice(part, dpr);
            const QImage pixels = context_.desktop->grabScreen(source.translated(origin));
            painter.drawImage(
                toDevice(
                    QRect(copy.destination + (part.topLeft() - copy.source.topLeft()), part.size()),
                    dpr)
                    .topLeft(),
                pixels);
            lastDone = k;
        }
        if (redo) {
            continue;
        }
        ++k;
    }
    return Stop::None;
}

bool frmBrowser::CapturePage(QImage& page) {
    const auto answer = runScript(
        QStringLiteral("%1(%2, '%3')").arg(QLatin1String(kPageSide), scrollElement_, kMarkerId));
    const QJsonObject view =
        answer ? QJsonDocument::fromJson(answer->toString().toUtf8()).object() : QJsonObject();
    const int SW = view.value(QStringLiteral("sw")).toInt();
    const int SH = view.value(QStringLiteral("sh")).toInt();
    const double dpr = view.value(QStringLiteral("dpr")).toDouble(1.0);
    const QSize size = toDevice(QRect(0, 0, SW, SH), dpr).size();
    stop_ = Stop::Failed;
    if (view.isEmpty() || size.isEmpty() || view.value(QStringLiteral("w")).toInt() <= 0 ||
        view.value(QStringLiteral("h")).toInt() <= 0) {
        stop_ = cancelled_ ? Stop::Cancelled : Stop::Failed;
    } else if (qint64{size.width()} * qint64{size.height()} > kMaxPagePixels) {
        context_.prompts->message(
            QStringLiteral("网页太大，无法抓图（最多 %1 像素）").arg(kMaxPagePixels),
            MessageScope::System);
        qCInfo(lcMorvane) << "page capture refused: the page is too large for one image" << size;
        stop_ = Stop::Refused;
    } else {
        page = QImage(size, QImage::Format_RGB32);
        if (!page.isNull()) {
            page.fill(Qt::black);
            keepOnTop(true);
            stop_ = copyPage(page, view);
        }
    }
    // However the capture ended, the page looks as before: styles back, marker gone, at the
    // top. A page that went elsewhere has nothing to put back.
    // After a cancel it is sent without waiting: the page may not be answering at all.
    const QString restore = QStringLiteral("window.__morvane && window.__morvane.restore()");
    if (cancelled_) {
        sendScript(restore);
    } else {
        runScript(restore, 2000);
    }
    return stop_ == Stop::None;
}

void frmBrowser::cancelCapture() {
    if (capturing_ && !cancelled_) {
        cancelled_ = true;
        if (waiting_) {
            waiting_->quit();
        }
    }
}

void frmBrowser::StartPageCapture() {
    capturing_ = true;
    cancelled_ = false;
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
    ChooseScrollElement();
    QImage page;
    bool captured = false;
    if (scrollElement_.isEmpty()) {
        qCInfo(lcMorvane) << "page capture ended: the page has no scrolling element";
        stop_ = Stop::Refused;
    } else {
        writeMetric("scrollTop", 0);
        captured = CapturePage(page);
    }
    capturing_ = false;
    brwWebBrowser->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    escape_->setEnabled(false);
    brwWebBrowser->setFocusPolicy(focusPolicy);
    if (!captured) {
        keepOnTop(false);
        setWindowTitle(brwWebBrowser->title());
        switch (stop_) {
        case Stop::Cancelled:
            qCInfo(lcMorvane) << "page capture cancelled: no file written";
            break;
        case Stop::Navigated:
            qCWarning(lcMorvane) << "page capture stopped: the page went to another address";
            context_.prompts->message(QStringLiteral("抓图已停止：网页转到了别的地址"),
                                      MessageScope::System);
            break;
        case Stop::Unsteady:
            qCWarning(lcMorvane) << "page capture stopped: the page does not stay where it is "
                                    "scrolled";
            context_.prompts->message(QStringLiteral("抓图已停止：网页不停留在滚动到的位置"),
                                      MessageScope::System);
            break;
        case Stop::Failed:
            qCWarning(lcMorvane) << "page capture ended: the page did not answer";
            context_.prompts->message(QStringLiteral("抓图失败：网页没有应答"),
                                      MessageScope::System);
            break;
        case Stop::Refused:
        case Stop::None:
            break; // said where it was refused
        }
        if (closeAfterCapture_) {
            close();
        }
        return;
    }
    context_.clipboard->setImage(page);

    // A page's file is named "temp" and a number only. When it cannot be written the window
    // stays open, above the others, as the capture left it; the routine logs why.
    const CaptureFileResult result = writeCaptureFile(context_.saveFolder(), QString(), page);
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
