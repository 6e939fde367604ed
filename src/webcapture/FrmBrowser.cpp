#include "FrmBrowser.h"

#include "GuardedPage.h"
#include "PageScript.h"
#include "common/Twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEnginePage>
#include <QWebEngineView>

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
    // follows the frame's place and size. A desktop without X window ids has no such window.
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

} // namespace morvane
