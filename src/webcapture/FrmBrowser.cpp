#include "FrmBrowser.h"

#include "capture/BrowserView.h"
#include "capture/CaptureFile.h"
#include "common/Log.h"
#include "common/Prompts.h"
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
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
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

} // namespace

FrmBrowser::FrmBrowser(const WebCaptureContext& context)
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
    viewFrame->setLineWidth(VIEW_BORDER);
    auto* frameLayout = new QVBoxLayout(viewFrame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    brwWebBrowser = new QWebEngineView(viewFrame);
    frameLayout->addWidget(brwWebBrowser);
    layout->addWidget(viewFrame, 1);
    // The view's place is also given as a child X window with the class a browser's view
    // has, so that the capture finds it among the window's children as in any browser.
    // The page is drawn into the top-level window, so this window is never mapped: it only
    // follows the frame's place and size.
    viewFrame->installEventFilter(this);

    timTimer = new QTimer(this);
    timTimer->setInterval(5);
    connect(timTimer, &QTimer::timeout, this, &FrmBrowser::timTimer_Timer);
    connect(brwWebBrowser, &QWebEngineView::loadFinished, this, [this] {
        loadPending_ = false;
        ChooseScrollElement();
        if (!scrollElement_.isEmpty()) {
            writeMetric("scrollTop", 0);
        }
    });

    if (context_.mainWindow) {
        context_.mainWindow->setEnabled(false);
    }
    move(0, 0);
}

FrmBrowser::~FrmBrowser() = default;

void FrmBrowser::closeEvent(QCloseEvent* event) {
    closed_ = true;
    if (context_.mainWindow) {
        context_.mainWindow->setEnabled(true);
    }
    event->accept();
}

bool FrmBrowser::eventFilter(QObject* watched, QEvent* event) {
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

void FrmBrowser::cboAddress_Click() {
    timTimer->start();
    loadPending_ = true;
    brwWebBrowser->load(QUrl::fromUserInput(cboAddress->currentText()));
}

void FrmBrowser::timTimer_Timer() {
    // A load just asked for may not have started yet; it counts as busy until it finishes.
    if (loadPending_ || brwWebBrowser->page()->isLoading()) {
        setWindowTitle(QStringLiteral("正在工作..."));
    } else {
        timTimer->stop();
        setWindowTitle(brwWebBrowser->title());
    }
}

void FrmBrowser::tbToolBar_ButtonClick(const QString& key) {
    if (capturing_) {
        return; // one capture at a time; the page must not move under it
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

std::optional<QVariant> FrmBrowser::runScript(const QString& script, int timeoutMs) {
    // A local loop makes the answer synchronous; an answer after the time is up finds its
    // loop gone and is dropped.
    QEventLoop loop;
    auto answer = std::make_shared<std::optional<QVariant>>();
    auto waiting = std::make_shared<bool>(true);
    QEventLoop* loopPointer = &loop;
    brwWebBrowser->page()->runJavaScript(script, [answer, waiting, loopPointer](const QVariant& v) {
        if (*waiting) {
            *answer = v;
            loopPointer->quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    *waiting = false;
    return *answer;
}

std::optional<int> FrmBrowser::readMetric(const char* property) {
    if (scrollElement_.isEmpty()) {
        return std::nullopt;
    }
    const auto value =
        runScript(QStringLiteral("%1.%2").arg(scrollElement_, QString::fromLatin1(property)));
    bool ok = false;
    const int result = value ? value->toInt(&ok) : 0;
    return ok ? std::optional<int>(result) : std::nullopt;
}

void FrmBrowser::writeMetric(const char* property, int value) {
    if (!scrollElement_.isEmpty()) {
        runScript(QStringLiteral("%1.%2 = %3;")
                      .arg(scrollElement_, QString::fromLatin1(property))
                      .arg(value));
    }
}

void FrmBrowser::ChooseScrollElement() {
    const auto answer = runScript(QStringLiteral(R"((function () {
        var r = document.documentElement, b = document.body, a = {root: !!r, body: !!b};
        if (r && b) {
            r.scrollTop = 1; r.scrollLeft = 1; b.scrollTop = 1; b.scrollLeft = 1;
            a.rt = r.scrollTop; a.rl = r.scrollLeft; a.bt = b.scrollTop; a.bl = b.scrollLeft;
            a.rw = r.clientWidth; a.rh = r.clientHeight; a.bw = b.clientWidth; a.bh = b.clientHeight;
            r.scrollTop = 0; r.scrollLeft = 0; b.scrollTop = 0; b.scrollLeft = 0;
        }
        return JSON.stringify(a);
    })())"));
    if (!answer) {
        return;
    }
    const QJsonObject a = QJsonDocument::fromJson(answer->toString().toUtf8()).object();
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

void FrmBrowser::keepOnTop(bool onTop) {
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

void FrmBrowser::placeViewWindow() {
    viewMark_.place(static_cast<WindowId>(internalWinId()),
                    QRect(viewFrame->mapTo(this, QPoint(0, 0)), viewFrame->size()));
}

QRect FrmBrowser::viewOnScreen() {
    // The view window less its border is the page's visible area.
    for (int attempt = 0; attempt < 2; ++attempt) {
        placeViewWindow();
        const WindowId view = FindBrowserView(*context_.desktop, static_cast<WindowId>(winId()));
        const QRect frame = view ? context_.desktop->windowRect(view) : QRect();
        if (frame.isValid()) {
            return frame.adjusted(VIEW_BORDER, VIEW_BORDER, -VIEW_BORDER, -VIEW_BORDER);
        }
        // Gone with a top-level window that Qt made anew: make it again.
        viewMark_.forget();
    }
    // Without a view window, the view's place comes from the widgets: the same place.
    return QRect(brwWebBrowser->mapToGlobal(QPoint(0, 0)), brwWebBrowser->size());
}

void FrmBrowser::SettleView() {
    Command1->setFocus();
    repaint();
}

bool FrmBrowser::CapturePage(QImage& page) {
    const auto SW = readMetric("scrollWidth");
    const auto SH = readMetric("scrollHeight");
    const auto CW = readMetric("clientWidth");
    const auto CH = readMetric("clientHeight");
    if (!SW || !SH || !CW || !CH || *SW <= 0 || *SH <= 0) {
        return false;
    }
    const PageMetrics metrics{*SW, *SH, *CW, *CH};
    if (qint64{*SW} * qint64{*SH} > kMaxPagePixels) {
        context_.prompts->message(
            QStringLiteral("网页太大，无法抓图（最多 %1 像素）").arg(kMaxPagePixels),
            MessageScope::System);
        return false;
    }
    page = QImage(*SW, *SH, QImage::Format_RGB32);
    if (page.isNull()) {
        return false;
    }
    page.fill(Qt::black);

    keepOnTop(true);
    const QPoint origin = viewOnScreen().topLeft();
    QPainter painter(&page);
    int marker = 0;
    for (const PageCopy& copy : planPageCapture(metrics)) {
        if (copy.source.isEmpty()) {
            continue;
        }
        // The copy must show the page at its scroll position. A 1-pixel marker, placed
        // where this copy does not read, changes colour in the same script that scrolls;
        // once the screen shows the new colour, the new position is on the screen too.
        // A copy of the whole view is taken in two parts, so that the marker always lies
        // outside the part being read.
        const auto outside = [&](const QRect& part) -> std::optional<QPoint> {
            for (const QPoint spot :
                 {QPoint(0, 0), QPoint(*CW - 1, *CH - 1), QPoint(0, *CH - 1), QPoint(*CW - 1, 0)}) {
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
        for (const QRect& part : parts) {
            const QPoint markAt = outside(part).value_or(QPoint(0, 0));
            marker = marker == 0x010203 ? 0x030201 : 0x010203;
            const QString colour = QStringLiteral("#%1").arg(marker, 6, 16, QLatin1Char('0'));
            SettleView();
            runScript(QStringLiteral(R"((function () {
                var e = %1; e.scrollTop = %2; e.scrollLeft = %3;
                var m = document.getElementById('%4');
                if (!m) { m = document.createElement('div'); m.id = '%4';
                    m.style.cssText = 'position:fixed;width:1px;height:1px;z-index:2147483647;pointer-events:none';
                    document.documentElement.appendChild(m); }
                m.style.left = '%5px'; m.style.top = '%6px'; m.style.background = '%7';
                m.style.display = 'block';
            })())")
                          .arg(scrollElement_)
                          .arg(copy.scrollTop)
                          .arg(copy.scrollLeft)
                          .arg(kMarkerId)
                          .arg(markAt.x())
                          .arg(markAt.y())
                          .arg(colour));
            const QPoint markerOnScreen = origin + markAt;
            bool shown = false;
            QElapsedTimer waited;
            waited.start();
            QTimer wake;
            wake.setSingleShot(true);
            while (!shown && waited.elapsed() < 2000) {
                const QImage pixel =
                    context_.desktop->grabScreen(QRect(markerOnScreen, QSize(1, 1)));
                shown =
                    !pixel.isNull() && (pixel.pixel(0, 0) & 0xffffff) == static_cast<QRgb>(marker);
                if (!shown) {
                    // The page's new frame reaches the window through this thread's events:
                    // wait for them (or a millisecond), never sleep past them.
                    wake.start(1);
                    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                                    QEventLoop::WaitForMoreEvents);
                }
            }
            const QImage pixels = context_.desktop->grabScreen(part.translated(origin));
            painter.drawImage(copy.destination + (part.topLeft() - copy.source.topLeft()), pixels);
        }
    }
    painter.end();
    runScript(QStringLiteral("(function(){var m=document.getElementById('%1'); if (m) m.remove();"
                             " %2.scrollTop = 0; %2.scrollLeft = 0;})()")
                  .arg(kMarkerId, scrollElement_));
    return true;
}

void FrmBrowser::StartPageCapture() {
    capturing_ = true;
    lastFile_.clear();
    ChooseScrollElement();
    if (scrollElement_.isEmpty()) {
        capturing_ = false;
        qCInfo(lcMorvane) << "page capture ended: the page has no scrolling element";
        return;
    }
    writeMetric("scrollTop", 0);
    QImage page;
    const bool captured = CapturePage(page);
    capturing_ = false;
    if (!captured) {
        qCInfo(lcMorvane) << "page capture ended: the page could not be captured";
        return;
    }
    context_.clipboard->setImage(page);

    // A page's file is named "temp" and a number only. When it cannot be written the window
    // stays open, above the others, as the capture left it; the routine logs why.
    const CaptureFileResult result = writeCaptureFile(context_.saveFolder(), QString(), page);
    if (!result.written()) {
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
