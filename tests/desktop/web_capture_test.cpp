// The whole-page capture on the private X server: a page drawn from exact colours is opened
// from another window's title, captured view by view, and compared pixel by pixel.
#include "capture/BrowserView.h"
#include "platform/Clipboard.h"
#include "platform/X11Desktop.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/DesktopTools.h"
#include "support/PageServer.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"
#include "support/TestWindows.h"
#include "support/Widgets.h"
#include "webcapture/WebLoader.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>

using namespace morvane;

namespace {

using test::browserWindow;

QRgb blockColour(int block) {
    return qRgb((block * 37) % 256, (block * 91 + 40) % 256, (block * 53 + 90) % 256);
}

QWidget* pageView(QWidget* browser);

class WebCapture : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    WebCapture() {
        QDir().mkpath(shots);
        QFile(shots + QStringLiteral("/temp1.bmp")).open(QIODevice::WriteOnly);
        QFile(shots + QStringLiteral("/temp3.bmp")).open(QIODevice::WriteOnly);
    }

    // A web-mode capture with the pointer over another browser's address bar: a window whose
    // text is the address (the page's, unless given).
    void captureOverAddressBar(const QString& address = {}) {
        const QString text = address.isEmpty() ? server->url().toString() : address;
        const WindowId addressBar = windows.create(
            {.rect = QRect(0, 0, 600, 40), .title = text.toUtf8(), .overrideRedirect = true});
        windows.warpPointer(QPoint(10, 10));
        shell.dispatcher().DoCapture();
        windows.destroy(addressBar);
    }

    // Opens the page in the browser window, as a web-mode capture over another browser's
    // address bar does, and waits until it has loaded.
    QWidget* open(const QByteArray& html) {
        server = std::make_unique<test::PageServer>(html);
        return openAt(server->url().toString());
    }

    QWidget* openAt(const QString& address) {
        EXPECT_TRUE(shell.startUp());
        Frm_Main& w = *shell.mainWindow();
        w.Txt_App->setText(shots);
        w.Opt_Web->setChecked(true);
        captureOverAddressBar(address);
        EXPECT_TRUE(QTest::qWaitFor([] { return browserWindow() != nullptr; }, 10000))
            << "no browser window opened";
        QWidget* browser = browserWindow();
        if (!browser) {
            return nullptr; // the failure is recorded; the helpers below take a null window
        }
        EXPECT_FALSE(w.isEnabled());
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return browser && browser->windowTitle() == QStringLiteral("Page"); }, 20000));
        QTest::qWait(300);
        return browser;
    }

    // Opens the page in a browser window made with a context of its own, as the shell makes
    // one, its pixels read from the view's own rendering or from the screen; waits until it
    // has loaded. The main window is shown (and never disabled), as capture() expects.
    QWidget* openReadingFrom(const QByteArray& html, bool fromView) {
        if (!shell.mainWindow()) {
            EXPECT_TRUE(shell.startUp());
        }
        server = std::make_unique<test::PageServer>(html);
        WebCaptureContext context;
        context.saveFolder = [this] { return shots; };
        context.prompts = &prompts;
        // Not used with the pixels from the view: a call on it would crash the test.
        context.desktop = fromView ? nullptr : &x11Desktop;
        context.clipboard = &clipboard;
        context.pixelsFromView = fromView;
        ownBrowser = loadWebBrowser(context);
        if (!ownBrowser) {
            ADD_FAILURE() << "no browser module";
            return nullptr;
        }
        ownBrowser->openAddress(server->url().toString());
        QWidget* browser = nullptr;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                browser = browserWindow();
                return browser && browser->windowTitle() == QStringLiteral("Page");
            },
            20000));
        QTest::qWait(300);
        return browser;
    }

    // The page captured twice, its pixels read from the screen and then from the view;
    // viewHeight is the view's, in logical pixels.
    std::array<QImage, 2> captureFromScreenAndView(const QByteArray& html, int& viewHeight) {
        std::array<QImage, 2> saved;
        for (const bool fromView : {false, true}) {
            QWidget* browser = openReadingFrom(html, fromView);
            if (!browser) {
                break; // the failure is recorded
            }
            viewHeight = pageView(browser)->height();
            // Only the window read from the screen marks its view in the X window tree.
            EXPECT_EQ(FindBrowserView(x11Desktop, static_cast<WindowId>(browser->winId())) != 0,
                      !fromView);
            saved[fromView] = capture(browser);
            prompts.messages.clear();
            QFile::remove(shots + QStringLiteral("/temp2.bmp"));
        }
        return saved;
    }

    // The toolbar button with the key, or null (a failure) when there is none.
    static QAction* toolButton(QWidget* window, const char* key) {
        const auto* bar = window ? window->findChild<QToolBar*>() : nullptr;
        for (QAction* action : bar ? bar->actions() : QList<QAction*>()) {
            if (action->data().toString() == QLatin1String(key)) {
                return action;
            }
        }
        ADD_FAILURE() << "no toolbar button " << key;
        return nullptr;
    }

    // Presses "滚动抓图" and returns the saved page.
    QImage capture(QWidget* browser) {
        QAction* button = toolButton(browser, "gdzt");
        if (!button) {
            return {};
        }
        EXPECT_EQ(button->toolTip(), QStringLiteral("滚动抓图"));
        button->trigger();
        const QString file = shots + QStringLiteral("/temp2.bmp");
        EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("完成抓图\r\n输出到") + file});
        const QImage saved = QImage(file, "BMP").convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(test::clipboardFromOutside(), saved);
        EXPECT_TRUE(QTest::qWaitFor([] { return browserWindow() == nullptr; }, 5000));
        EXPECT_TRUE(shell.mainWindow()->isEnabled());
        return saved;
    }

    // Presses the toolbar button with the key; a failure when there is none.
    static void press(QWidget* window, const char* key) {
        if (QAction* button = toolButton(window, key)) {
            button->trigger();
        }
    }

    // Counts the pixels (every third in each direction) that differ from expected.
    static int mismatches(const QImage& saved, const std::function<QRgb(int, int)>& expected) {
        int wrong = 0;
        for (int y = 0; y < saved.height(); y += 3) {
            for (int x = 0; x < saved.width(); x += 3) {
                if ((saved.pixel(x, y) & 0xffffff) != (expected(x, y) & 0xffffff) && ++wrong < 4) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex
                                  << saved.pixel(x, y);
                }
            }
        }
        return wrong;
    }

    QString shots = dir.filePath(QStringLiteral("shots"));
    test::TestWindows windows;
    std::unique_ptr<test::PageServer> server;
    X11Desktop x11Desktop;
    QtClipboard clipboard;
    std::unique_ptr<WebBrowser> ownBrowser; // made by openReadingFrom
};

const QByteArray kHead = "<!DOCTYPE html><html><head><title>Page</title><style>"
                         "html,body{margin:0;padding:0}div{height:100px}</style></head><body>";

QByteArray colour(QRgb rgb) {
    return QStringLiteral("#%1").arg(rgb & 0xffffff, 6, 16, QLatin1Char('0')).toUtf8();
}

// A page of blocks 100 rows high, each its own colour, as wide as the view.
QByteArray stripes(int blocks, const QByteArray& head = kHead) {
    QByteArray html = head;
    for (int block = 0; block < blocks; ++block) {
        html += "<div style='background:" + colour(blockColour(block)) + "'></div>";
    }
    return html + "</body></html>";
}

// The widget that shows the page, and what the screen shows of it.
QWidget* pageView(QWidget* browser) {
    for (QWidget* child : browser->findChildren<QWidget*>()) {
        if (child->inherits("QWebEngineView")) {
            return child;
        }
    }
    return nullptr;
}

QImage viewOnScreen(QWidget* browser) {
    QWidget* view = pageView(browser);
    return X11Desktop().grabScreen(QRect(view->mapToGlobal(QPoint(0, 0)), view->size()));
}

// A page of 100-row blocks as wide as the view: plain ones in their own colours, and at the
// given blocks a sticky heading pinned to the view's bottom and a table whose heading row is
// sticky at the top. Over them, fixed: a header, a side bar and a cookie bar at the bottom.
// flow holds each block's colour.
QByteArray realPage(int blocks, QList<QRgb>& flow) {
    QByteArray html = kHead + "<style>table{width:100%;border-collapse:collapse}td,th{padding:0;"
                              "height:100px}</style>";
    for (int block = 0; block < blocks; ++block) {
        if (block == 12) {
            flow << 0xffff00;
            html += "<div style='position:sticky;bottom:0;background:#ffff00'></div>";
        } else if (block == 20) {
            html += "<table><thead><tr><th style='position:sticky;top:0;background:#ff00ff'></th>"
                    "</tr></thead><tbody>";
            flow << 0xff00ff;
            for (int row = 0; row < 6; ++row, ++block) {
                flow << blockColour(block);
                html += "<tr><td style='background:" + colour(blockColour(block)) + "'></td></tr>";
            }
            html += "</tbody></table>";
        } else {
            flow << blockColour(block);
            html += "<div style='background:" + colour(blockColour(block)) + "'></div>";
        }
    }
    return html + "<div style='position:fixed;top:0;left:0;right:0;height:50px;background:#ff0000'>"
                  "</div><div style='position:fixed;top:50px;left:0;width:80px;height:300px;"
                  "background:#00ff00'></div><div style='position:fixed;bottom:0;left:0;right:0;"
                  "height:40px;background:#0000ff'></div></body></html>";
}

// What realPage shows: the fixed elements in the first view (viewHeight rows), the flow below.
QRgb realPageAt(const QList<QRgb>& flow, int viewHeight, int x, int y) {
    if (y < viewHeight) {
        if (y < 50) {
            return 0xff0000;
        }
        if (y >= viewHeight - 40) {
            return 0x0000ff;
        }
        if (x < 80 && y < 350) {
            return 0x00ff00;
        }
    }
    return flow.value(y / 100, 0xffffff);
}

// Answers /img/RRGGBB with a flat picture of that colour, 300 ms late; the rest with the page.
test::PageReply slowPictures(const QByteArray& request, const QByteArray& page) {
    const qsizetype at = request.indexOf("/img/");
    if (at < 0 || at > request.indexOf("\r\n")) {
        return {.body = page};
    }
    return {"image/svg+xml",
            "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><rect width='10' "
            "height='10' fill='#" +
                request.mid(at + 5, 6) + "'/></svg>",
            300};
}
} // namespace

TEST_F(WebCapture, TallPageIsStitchedExactly) {
    // 50 blocks of 100 rows, each its own colour, as wide as the view.
    const QByteArray html = stripes(50);
    const QImage saved = capture(open(html));
    ASSERT_EQ(saved.height(), 5000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

TEST_F(WebCapture, PageWiderAndTallerThanTheViewIsStitchedExactly) {
    // 25 x 25 cells of 120 x 120 pixels: 3000 x 3000, more than the view both ways.
    QByteArray html = kHead + "<div style='width:3000px;height:3000px;position:relative'>";
    for (int row = 0; row < 25; ++row) {
        for (int column = 0; column < 25; ++column) {
            html += QStringLiteral("<div style='position:absolute;left:%1px;top:%2px;width:120px;"
                                   "height:120px;background:")
                        .arg(column * 120)
                        .arg(row * 120)
                        .toUtf8() +
                    colour(blockColour(row * 25 + column)) + "'></div>";
        }
    }
    const QImage saved = capture(open(html + "</div></body></html>"));
    ASSERT_EQ(saved.size(), QSize(3000, 3000));
    EXPECT_EQ(mismatches(saved, [](int x, int y) { return blockColour(y / 120 * 25 + x / 120); }),
              0);
}

TEST_F(WebCapture, MissingFolderWritesNothingAndKeepsTheWindow) {
    const QByteArray html = stripes(12);
    QWidget* browser = open(html);
    ASSERT_NE(browser, nullptr);
    shell.mainWindow()->Txt_App->setText(dir.filePath(QStringLiteral("missing")));
    press(browser, "gdzt");
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("missing"))).exists());
    EXPECT_EQ(browserWindow(), browser) << "the window stays open";
    EXPECT_TRUE(test::runTool(QStringLiteral("xprop"),
                              {QStringLiteral("-id"), QString::number(browser->winId()),
                               QStringLiteral("_NET_WM_STATE")})
                    .contains(QStringLiteral("_NET_WM_STATE_ABOVE")))
        << "and above the others";
    // The page reached the clipboard all the same.
    EXPECT_EQ(QGuiApplication::clipboard()->image().height(), 1200);
    browser->close();
    EXPECT_TRUE(shell.mainWindow()->isEnabled());
}

TEST_F(WebCapture, PageTooLargeForOneImageIsRefusedWithAMessage) {
    // 3000 x 40000: 120 million pixels, past what one capture holds.
    QWidget* browser = open(kHead + "<div style='width:3000px;height:40000px;background:#123456'>"
                                    "</div></body></html>");
    ASSERT_NE(browser, nullptr);
    press(browser, "gdzt");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("网页太大")));
    EXPECT_EQ(QDir(shots).entryList(QDir::Files).size(), 2) << "only the two files put there";
    browser->close();
}

TEST_F(WebCapture, PageNoLargerThanTheViewIsTheView) {
    const QByteArray html = stripes(3);
    const QImage saved = capture(open(html));
    ASSERT_GT(saved.height(), 300);
    EXPECT_EQ(
        mismatches(saved, [](int, int y) { return y < 300 ? blockColour(y / 100) : 0xffffffu; }),
        0);
}

TEST_F(WebCapture, LastColumnExactly199WideIsCopiedWhole) {
    // Rows of 100 x 100 cells, cut to the view's width plus 199 by a script, so that after
    // the first view only the last column remains, exactly one step wide.
    QByteArray html = kHead + "<div id='w' style='overflow:hidden;height:auto'>";
    for (int row = 0; row < 12; ++row) {
        html += "<div style='display:flex'>";
        for (int column = 0; column < 25; ++column) {
            html += "<div style='flex:none;width:100px;background:" +
                    colour(blockColour(row * 25 + column)) + "'></div>";
        }
        html += "</div>";
    }
    html += "</div><script>document.getElementById('w').style.width ="
            " (document.documentElement.clientWidth + 199) + 'px';</script></body></html>";
    const QImage saved = capture(open(html));
    ASSERT_EQ(saved.height(), 1200);
    ASSERT_LT(saved.width(), 2500);
    EXPECT_EQ(mismatches(saved, [](int x, int y) { return blockColour(y / 100 * 25 + x / 100); }),
              0);
    // The last column, every pixel of it.
    const QImage last = saved.copy(saved.width() - 199, 0, 199, saved.height());
    EXPECT_EQ(mismatches(last,
                         [&](int x, int y) {
                             return blockColour(y / 100 * 25 + (x + saved.width() - 199) / 100);
                         }),
              0);
}

TEST_F(WebCapture, StopWhileLoadingClosesTheWindowAndEnablesTheMainWindow) {
    // A server that takes the connection and never answers: the page stays loading.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    ASSERT_TRUE(shell.startUp());
    shell.mainWindow()->Txt_App->setText(shots);
    shell.mainWindow()->Opt_Web->setChecked(true);
    captureOverAddressBar(QStringLiteral("http://127.0.0.1:%1/slow.html").arg(silent.serverPort()));
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            QWidget* browser = browserWindow();
            return browser && browser->windowTitle() == QStringLiteral("正在工作...");
        },
        10000));
    EXPECT_FALSE(shell.mainWindow()->isEnabled());
    press(browserWindow(), "Stop");
    EXPECT_EQ(browserWindow(), nullptr);
    EXPECT_TRUE(shell.mainWindow()->isEnabled());
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WebCapture, QuirksModePageScrolledByItsBody) {
    // No doctype: the body, not the root element, scrolls this page.
    const QByteArray html =
        stripes(30, "<html><head><title>Page</title><style>html,body{margin:0;padding:0}"
                    "div{height:100px}</style></head><body>");
    const QImage saved = capture(open(html));
    ASSERT_EQ(saved.height(), 3000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

TEST_F(WebCapture, StopClosesTheWindowAndBackWithoutHistoryDoesNothing) {
    QWidget* browser = open(kHead + "<div style='background:#00ff00'></div></body></html>");
    ASSERT_NE(browser, nullptr);
    QAction* back = toolButton(browser, "Back");
    QAction* stop = toolButton(browser, "Stop");
    ASSERT_TRUE(back && stop);
    EXPECT_EQ(back->toolTip(), QStringLiteral("返回"));
    back->trigger();
    QTest::qWait(300);
    EXPECT_EQ(browserWindow(), browser);
    EXPECT_EQ(browser->windowTitle(), QStringLiteral("Page"));
    stop->trigger();
    EXPECT_TRUE(shell.mainWindow()->isEnabled());
    EXPECT_EQ(browserWindow(), nullptr);

    // A new request at once, before the closed window is gone: a new window serves it.
    captureOverAddressBar();
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            QWidget* again = browserWindow();
            return again && again->windowTitle() == QStringLiteral("Page");
        },
        20000));
    EXPECT_FALSE(shell.mainWindow()->isEnabled());
    if (QWidget* again = browserWindow()) {
        again->close();
    }
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WebCapture, BrowserWindowAnswersTheViewFinderWithTheFramedView) {
    QWidget* browser = open(stripes(12));
    ASSERT_NE(browser, nullptr);
    X11Desktop desktop;
    const WindowId view = FindBrowserView(desktop, static_cast<WindowId>(browser->winId()));
    ASSERT_NE(view, 0u);
    const QWidget* page = nullptr;
    for (const QWidget* child : browser->findChildren<QWidget*>()) {
        if (child->inherits("QWebEngineView")) {
            page = child;
        }
    }
    ASSERT_NE(page, nullptr);
    const QRect visible(page->mapToGlobal(QPoint(0, 0)), page->size());
    // Margins of 45 twips left, 100 twips less than the window's width, 100 twips below.
    const QRect framed(page->mapTo(browser, QPoint(-2, -2)), page->size() + QSize(4, 4));
    EXPECT_EQ(framed.left(), 3);
    EXPECT_EQ(browser->width() - framed.width(), 7);
    EXPECT_EQ(browser->height() - framed.bottom() - 1, 7);
    EXPECT_EQ(desktop.windowRect(view), visible.adjusted(-2, -2, 2, 2));
    EXPECT_EQ(desktop.windowAt(visible.center()), static_cast<WindowId>(browser->winId()))
        << "the view's window takes no pointer or keyboard from the page";
    // It follows the view when the window changes size.
    browser->showNormal();
    browser->setGeometry(100, 100, 800, 600);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return desktop.windowRect(view) ==
                   QRect(page->mapToGlobal(QPoint(0, 0)), page->size()).adjusted(-2, -2, 2, 2);
        },
        5000));
    browser->close();
}

TEST_F(WebCapture, FixedElementsOnceAtTheTopStickyOnesAtTheirPlace) {
    QList<QRgb> flow;
    QWidget* browser = open(realPage(60, flow));
    ASSERT_NE(browser, nullptr);
    const int viewHeight = pageView(browser)->height();
    const QImage saved = capture(browser);
    ASSERT_EQ(saved.height(), 6000);
    EXPECT_EQ(mismatches(saved, [&](int x, int y) { return realPageAt(flow, viewHeight, x, y); }),
              0);
}

// The same page captured with its pixels from the screen and from the view's own rendering,
// as on a desktop whose screen cannot be read: the same image, pixel for pixel, and the page's
// colours.
class WebCapturePixelSource : public WebCapture, public ::testing::WithParamInterface<bool> {};

TEST_P(WebCapturePixelSource, ViewGivesTheScreensPixels) {
    const bool fixedElements = GetParam();
    QList<QRgb> flow;
    int viewHeight = 0;
    const auto saved =
        captureFromScreenAndView(fixedElements ? realPage(30, flow) : stripes(30), viewHeight);
    ASSERT_EQ(saved[0].height(), 3000);
    EXPECT_TRUE(saved[1] == saved[0]) << "the view's pixels differ from the screen's";
    EXPECT_EQ(mismatches(saved[1],
                         [&](int x, int y) {
                             return fixedElements ? realPageAt(flow, viewHeight, x, y)
                                                  : blockColour(y / 100);
                         }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Pages, WebCapturePixelSource, ::testing::Values(false, true),
                         [](const auto& p) {
                             return std::string(p.param ? "FixedElements" : "FlatColours");
                         });

TEST_F(WebCapture, InnerScrollerIsCapturedWhole) {
    // The root and body keep the view's height; a box filling the view scrolls 40 blocks.
    const QByteArray html =
        stripes(40, kHead + "<style>html,body{height:100%;overflow:hidden}#s{position:absolute;"
                            "inset:0;overflow:auto;height:auto}</style><div id='s'>")
            .replace("</body>", "</div></body>");
    const QImage saved = capture(open(html));
    ASSERT_EQ(saved.height(), 4000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

TEST_F(WebCapture, LazyPicturesShowAndAGrowingPageIsTakenAtItsFirstSize) {
    // 40 blocks, each a picture that loads only near the view and arrives 300 ms late; the
    // page adds ten blocks whenever it is scrolled near its end.
    QByteArray html = kHead + "<style>img{display:block;width:100%;height:100px}</style>";
    for (int block = 0; block < 40; ++block) {
        html += "<img loading='lazy' src='/img/" + colour(blockColour(block)).mid(1) + "'>";
    }
    html += "<script>addEventListener('scroll', function () {"
            "  if (scrollY + innerHeight > document.body.scrollHeight - 300)"
            "    for (var i = 0; i < 10; ++i) document.body.appendChild("
            "      document.createElement('div')).style.background = '#808080'; });"
            "</script></body></html>";
    test::PageServer pictures(html, slowPictures);
    const QImage saved = capture(openAt(pictures.url().toString()));
    ASSERT_EQ(saved.height(), 4000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

TEST_F(WebCapture, WebRequestDuringACaptureIsIgnored) {
    // A hotkey press in web mode over another address while the page is being stitched: the
    // capture goes on with its own page.
    QWidget* browser = open(stripes(40));
    ASSERT_NE(browser, nullptr);
    test::PageServer other(kHead + "<div style='background:#ff0000'></div></body></html>");
    QTimer watch;
    bool pressed = false;
    const QPointer<QWidget> shown(browser);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!pressed && shown && shown->windowTitle().startsWith(QStringLiteral("正在抓图"))) {
            pressed = true;
            captureOverAddressBar(other.url().toString());
        }
    });
    watch.start(5);
    const QImage saved = capture(browser);
    watch.stop();
    EXPECT_TRUE(pressed);
    ASSERT_EQ(saved.height(), 4000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

// Root styles that must not change the picture: snapping, smooth scrolling, a grey filter
// (which renders the settle marker in other colours).
class WebCaptureRootStyle : public WebCapture, public ::testing::WithParamInterface<const char*> {};

TEST_P(WebCaptureRootStyle, PageIsStitchedExactlyAndPromptly) {
    // Grey blocks, which the grey filter keeps as they are.
    QByteArray html = kHead + "<style>html{" + GetParam() + "}</style>";
    for (int block = 0; block < 60; ++block) {
        html += "<div style='scroll-snap-align:start;background:" +
                colour(qRgb(block * 4, block * 4, block * 4)) + "'></div>";
    }
    QWidget* browser = open(html + "</body></html>");
    ASSERT_NE(browser, nullptr);
    QElapsedTimer clock;
    clock.start();
    const QImage saved = capture(browser);
    // A stall of 2 s a copy waiting for a colour the page never shows took a minute.
    EXPECT_LT(clock.elapsed(), 30000);
    ASSERT_EQ(saved.height(), 6000);
    EXPECT_EQ(mismatches(saved,
                         [](int, int y) {
                             const int v = y / 100 * 4;
                             return qRgb(v, v, v);
                         }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Styles, WebCaptureRootStyle,
                         ::testing::Values("scroll-snap-type:y mandatory", "scroll-behavior:smooth",
                                           "filter:grayscale(100%)"));

// Pages that work against the capture: each gives its whole page exactly, or a message and
// no file.
enum class Gives { Page, FixedInFlow, Frame, Message };

struct Hostile {
    const char* name;
    const char* head;   // added to the page's head
    const char* script; // added to the page's body
    Gives gives;
};

class WebCaptureHostilePage : public WebCapture, public ::testing::WithParamInterface<Hostile> {};

// Keeps the page's main thread busy for 150 ms in every frame.
#define SLOW_FRAMES                                                                                \
    "(function f() { requestAnimationFrame(function () { var t = performance.now();"               \
    " while (performance.now() - t < 150); f(); }); })();"

TEST_P(WebCaptureHostilePage, GivesTheWholePageOrAMessage) {
    const Hostile& hostile = GetParam();
    QList<QRgb> flow;
    QByteArray html = realPage(20, flow);
    if (hostile.gives == Gives::Frame) {
        // The page is a frame filling the view, its document scrolling 40 blocks.
        html = kHead +
               "<style>html,body{height:100%;overflow:hidden}iframe{display:block;"
               "border:0;width:100%;height:100%}</style><iframe srcdoc=\"" +
               stripes(40) + "\"></iframe></body></html>";
    }
    html.replace("</head>", QByteArray(hostile.head) + "</head>");
    html.replace("</body>", QByteArray("<script>") + hostile.script + "</script></body>");
    QWidget* browser = open(html);
    ASSERT_NE(browser, nullptr);
    if (hostile.gives == Gives::Message) {
        press(browser, "gdzt");
        EXPECT_EQ(prompts.messages,
                  QStringList{QStringLiteral("抓图已停止：网页不断撤销抓图对它的调整")});
        EXPECT_EQ(QDir(shots).entryList(QDir::Files).size(), 2) << "only the two files put there";
        browser->close();
        return;
    }
    const int viewHeight = pageView(browser)->height();
    const QImage saved = capture(browser);
    ASSERT_EQ(saved.height(), hostile.gives == Gives::Frame ? 4000 : 2000);
    EXPECT_EQ(mismatches(saved,
                         [&](int x, int y) {
                             switch (hostile.gives) {
                             case Gives::Frame:
                                 return blockColour(y / 100);
                             case Gives::FixedInFlow: // the fixed elements at their page places
                                 return y >= saved.height() - 40 ? 0x0000ffu
                                                                 : realPageAt(flow, 1 << 20, x, y);
                             default:
                                 return realPageAt(flow, viewHeight, x, y);
                             }
                         }),
              0);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, WebCaptureHostilePage,
    ::testing::Values(
        Hostile{"BannerAddedWhileScrolled", "",
                "addEventListener('scroll', function () { if (scrollY < 500 || window.added)"
                " return; window.added = true; var d = document.createElement('div');"
                " d.style.cssText = 'position:fixed;bottom:0;left:0;right:0;height:60px;"
                "background:#00ffff'; document.body.appendChild(d); });",
                Gives::Page},
        Hostile{"ShowsItsFixedBarAgain", "",
                "new MutationObserver(function () {"
                " document.querySelectorAll('body > div').forEach(function (d) {"
                " if (d.style.visibility === 'hidden') d.style.visibility = 'visible'; });"
                " }).observe(document.body, {attributes: true, subtree: true});",
                Gives::Message},
        Hostile{"ColoursTheMarkerAndDrawsSlowly",
                "<style>html > div, [id^=__morvane] {background:#ff0000 !important;"
                "display:none !important}</style>",
                SLOW_FRAMES, Gives::Page},
        Hostile{"RemovesTheMarkerAndDrawsSlowly", "",
                "new MutationObserver(function (records) { records.forEach(function (r) {"
                " r.addedNodes.forEach(function (n) { if (n.tagName === 'DIV') n.remove(); });"
                " }); }).observe(document.documentElement, {childList: true});" SLOW_FRAMES,
                Gives::Page},
        Hostile{"TransformOnTheRoot", "<style>html{transform:scale(1)}</style>", "",
                Gives::FixedInFlow},
        Hostile{"ContentInAFrame", "", "", Gives::Frame}),
    [](const auto& p) { return std::string(p.param.name); });

// A capture that ends early, however it ends: no file and nothing on the clipboard, the page
// back at its top with its fixed elements, sticky ones and no marker, the window usable.
struct EarlyEnd {
    const char* name;
    const char* script;  // added to the page
    const char* message; // shown, or nothing
    bool cancels;        // Esc, "Stop" or closing the window (the name) from 30 % on
};

class WebCaptureEarlyEnd : public WebCapture, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(WebCaptureEarlyEnd, LeavesNoFileAndThePageAsItWas) {
    QList<QRgb> flow;
    QByteArray html = realPage(100, flow);
    html.replace("</body>", QByteArray("<script>") + GetParam().script + "</script></body>");
    QWidget* browser = open(html);
    ASSERT_NE(browser, nullptr);
    QGuiApplication::clipboard()->clear();
    const QImage before = viewOnScreen(browser);
    QTimer watch;
    bool seen = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // The caption changes at most ten times a second: the first at 30 % or past it.
        const QString title = browser->windowTitle();
        const QString progress = QStringLiteral("正在抓图 ");
        if (seen || !GetParam().cancels || !title.startsWith(progress) ||
            title.mid(progress.size()).chopped(1).toInt() < 30) {
            return;
        }
        seen = true;
        const QString how = QString::fromLatin1(GetParam().name);
        if (how == QLatin1String("Esc")) {
            QTest::keyClick(browser->focusWidget() ? browser->focusWidget() : browser,
                            Qt::Key_Escape);
        } else if (how == QLatin1String("Stop")) {
            press(browser, "Stop");
        } else {
            browser->close();
        }
    });
    watch.start(5);
    press(browser, "gdzt");
    watch.stop();
    EXPECT_EQ(seen, GetParam().cancels);
    EXPECT_EQ(QDir(shots).entryList(QDir::Files).size(), 2) << "only the two files put there";
    EXPECT_TRUE(QGuiApplication::clipboard()->image().isNull());
    EXPECT_EQ(prompts.messages, GetParam().message
                                    ? QStringList{QString::fromUtf8(GetParam().message)}
                                    : QStringList());
    if (QString::fromLatin1(GetParam().name) == QLatin1String("Close")) {
        EXPECT_TRUE(QTest::qWaitFor([] { return browserWindow() == nullptr; }, 5000));
        EXPECT_TRUE(shell.mainWindow()->isEnabled());
        return;
    }
    ASSERT_EQ(browserWindow(), browser);
    EXPECT_EQ(browser->windowTitle(), QStringLiteral("Page"));
    QTest::qWait(300);
    if (QString::fromLatin1(GetParam().name) != QLatin1String("NavigatesAway")) {
        EXPECT_EQ(viewOnScreen(browser), before) << "at the top, fixed elements shown, no marker";
    }
    if (!GetParam().message) {
        // And usable: a second capture takes the whole page.
        const QImage saved = capture(browser);
        ASSERT_EQ(saved.height(), 10000);
        EXPECT_EQ(mismatches(saved,
                             [&](int x, int y) { return realPageAt(flow, before.height(), x, y); }),
                  0);
    } else {
        browser->close();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, WebCaptureEarlyEnd,
    ::testing::Values(EarlyEnd{"Esc", "", nullptr, true}, EarlyEnd{"Stop", "", nullptr, true},
                      EarlyEnd{"Close", "", nullptr, true},
                      EarlyEnd{"ResetsItsScroll",
                               "addEventListener('scroll', function () { scrollTo(0, 0); });",
                               "抓图已停止：网页不停留在滚动到的位置", false},
                      EarlyEnd{"NavigatesAway",
                               "addEventListener('scroll', function () {"
                               " if (scrollY > 3000) location.href = '/other.html'; });",
                               "抓图已停止：网页转到了别的地址", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(WebCapture, AlertLoopShowsAFewDialogsAndTheCaptureStillWorks) {
    QTimer dismiss;
    int dialogs = 0;
    QObject::connect(&dismiss, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            ++dialogs;
            box->close();
        }
    });
    dismiss.start(20);
    QWidget* browser = open(stripes(30).replace(
        "</body>", "<script>setInterval(function () { alert('again'); }, 10);</script></body>"));
    ASSERT_NE(browser, nullptr);
    QTest::qWait(1000);
    EXPECT_EQ(dialogs, 3);
    const QImage saved = capture(browser);
    EXPECT_EQ(dialogs, 3) << "none during the capture";
    ASSERT_EQ(saved.height(), 3000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

class WebCapturePickedAddress : public WebCapture,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(WebCapturePickedAddress, OnlyWebAddressesAreOpened) {
    ASSERT_TRUE(shell.startUp());
    shell.mainWindow()->Txt_App->setText(shots);
    shell.mainWindow()->Opt_Web->setChecked(true);
    captureOverAddressBar(QString::fromLatin1(GetParam()));
    QTest::qWait(300);
    EXPECT_EQ(browserWindow(), nullptr);
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("请将鼠标悬停在网页浏览器的地址栏上")});
}

INSTANTIATE_TEST_SUITE_P(Schemes, WebCapturePickedAddress,
                         ::testing::Values("file:///etc/passwd", "data://text/html,<b>x</b>",
                                           "javascript://%0aalert(1)"));

// With the screen at twice the pixels (run with QT_SCALE_FACTOR=2): the image is in device
// pixels, each block 200 rows, without seams.
class ScaledWebCapture : public WebCapture {};

TEST_F(ScaledWebCapture, ImageIsInDevicePixels) {
    ASSERT_EQ(qEnvironmentVariable("QT_SCALE_FACTOR"), QStringLiteral("2"))
        << "run by desktop.web_hidpi, with the screen scaled";
    const QImage saved = capture(open(stripes(30)));
    ASSERT_EQ(saved.height(), 6000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 200); }), 0);
}

TEST_F(ScaledWebCapture, ViewGivesTheScreensPixels) {
    int viewHeight = 0;
    const auto saved = captureFromScreenAndView(stripes(30), viewHeight);
    ASSERT_EQ(saved[1].height(), 6000);
    EXPECT_TRUE(saved[1] == saved[0]) << "the view's pixels differ from the screen's";
}

// A close always gets through, at once: the window manager's (a title bar's close button) or
// the main window's own caption button, of the main window, which shuts the program down with
// the browser window first, and of the browser window; whatever the page's script does, and
// in the middle of a capture.
struct ClosedByTheWindowManager {
    const char* name;
    const char* script; // added to the page
    const char* closed; // "main", "caption" (its close button) or "browser"
    bool duringCapture; // closed 1.5 s into a capture, else while the page is shown
};

class WebCaptureWindowManagerClose
    : public WebCapture,
      public ::testing::WithParamInterface<ClosedByTheWindowManager> {};

TEST_P(WebCaptureWindowManagerClose, GetsThroughAtOnce) {
    QByteArray html = stripes(60);
    html.replace("</body>", QByteArray("<script>") + GetParam().script + "</script></body>");
    QWidget* browser = open(html);
    ASSERT_NE(browser, nullptr);
    // A click in the page, which lets its script ask before the page is left.
    const QWidget* view = pageView(browser);
    test::clickAt(view->mapToGlobal(view->rect().center()));
    QTest::qWait(100);
    const QString closed = QString::fromLatin1(GetParam().closed);
    const bool mainWindow = closed != QLatin1String("browser");
    Frm_Main& w = *shell.mainWindow();
    QElapsedTimer sinceClose;
    const auto closeIt = [&] {
        sinceClose.start();
        if (closed == QLatin1String("caption")) {
            // Brought above the browser window, which fills the screen, as the task bar does.
            test::runTool(QStringLiteral("xdotool"),
                          {QStringLiteral("windowactivate"), QString::number(w.winId())});
            QTest::qWait(300);
            test::clickAt(w.Ige_exit->mapToGlobal(w.Ige_exit->rect().center()));
        } else {
            windows.closeLikeTitleBar(
                static_cast<WindowId>(mainWindow ? w.winId() : browser->winId()));
        }
    };
    if (GetParam().duringCapture) {
        QTimer::singleShot(1500, closeIt);
        press(browser, "gdzt");
    } else {
        closeIt();
    }
    EXPECT_TRUE(QTest::qWaitFor([] { return browserWindow() == nullptr; }, 20000));
    ASSERT_TRUE(sinceClose.isValid());
    EXPECT_LT(sinceClose.elapsed(), 1500) << "the browser window took that long to close";
    EXPECT_EQ(endings, mainWindow ? 1 : 0);
    EXPECT_EQ(shell.isShutDown(), mainWindow);
    EXPECT_TRUE(w.isEnabled() || mainWindow);
    EXPECT_EQ(QDir(shots).entryList(QDir::Files).size(), 2) << "only the two files put there";
    EXPECT_EQ(prompts.messages, QStringList());
}

const char kAsksBeforeLeaving[] =
    "addEventListener('beforeunload', function (e) { e.preventDefault(); e.returnValue = ''; });";
// Once the capture scrolls it, the page's script never ends: it answers nothing more.
const char kSpinsOnScroll[] = "addEventListener('scroll', function () { for (;;) {} });";

// Named without a prefix, so that the web group's filter runs them.
INSTANTIATE_TEST_SUITE_P(
    , WebCaptureWindowManagerClose,
    ::testing::Values(
        ClosedByTheWindowManager{"MainWindow", "", "main", false},
        ClosedByTheWindowManager{"CaptionButton", "", "caption", false},
        ClosedByTheWindowManager{"BrowserPageAsks", kAsksBeforeLeaving, "browser", false},
        ClosedByTheWindowManager{"BrowserPageSpins", kSpinsOnScroll, "browser", true},
        ClosedByTheWindowManager{"MainWindowPageSpins", kSpinsOnScroll, "main", true}),
    [](const auto& p) { return std::string(p.param.name); });
