// The whole-page capture on the private X server: a page drawn from exact colours is opened
// from another window's title, captured view by view, and compared pixel by pixel.
#include "capture/BrowserView.h"
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

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace morvane;

namespace {

using test::browserWindow;

QRgb blockColour(int block) {
    return qRgb((block * 37) % 256, (block * 91 + 40) % 256, (block * 53 + 90) % 256);
}

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
    // address bar does, and waits until it has loaded: then browser is the window. A fatal
    // failure when no window opens or the page does not load (call it under
    // ASSERT_NO_FATAL_FAILURE).
    void open(const QByteArray& html) {
        server = std::make_unique<test::PageServer>(html);
        ASSERT_TRUE(shell.startUp());
        FrmMain& w = *shell.mainWindow();
        w.Txt_App->setText(shots);
        w.Opt_Web->setChecked(true);
        captureOverAddressBar();
        ASSERT_TRUE(QTest::qWaitFor([] { return browserWindow() != nullptr; }, 10000))
            << "no browser window opened";
        browser = browserWindow();
        EXPECT_FALSE(w.isEnabled());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return browser && browser->windowTitle() == QStringLiteral("Page"); }, 20000))
            << "the page did not load";
        QTest::qWait(300);
        ASSERT_TRUE(browser) << "the browser window went away";
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

    // Presses the toolbar button with the key; a fatal failure when there is none.
    void press(const char* key) {
        QAction* button = toolButton(browser, key);
        ASSERT_NE(button, nullptr);
        button->trigger();
    }

    // Presses "滚动抓图" and returns the saved page (a null picture when there is no button).
    QImage capture() {
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
    QPointer<QWidget> browser; // the browser window that open() waited for
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

} // namespace

TEST_F(WebCapture, TallPageIsStitchedExactly) {
    // 50 blocks of 100 rows, each its own colour, as wide as the view.
    const QByteArray html = stripes(50);
    ASSERT_NO_FATAL_FAILURE(open(html));
    const QImage saved = capture();
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
    ASSERT_NO_FATAL_FAILURE(open(html + "</div></body></html>"));
    const QImage saved = capture();
    ASSERT_EQ(saved.size(), QSize(3000, 3000));
    EXPECT_EQ(mismatches(saved, [](int x, int y) { return blockColour(y / 120 * 25 + x / 120); }),
              0);
}

TEST_F(WebCapture, MissingFolderWritesNothingAndKeepsTheWindow) {
    const QByteArray html = stripes(12);
    ASSERT_NO_FATAL_FAILURE(open(html));
    shell.mainWindow()->Txt_App->setText(dir.filePath(QStringLiteral("missing")));
    ASSERT_NO_FATAL_FAILURE(press("gdzt"));
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("missing"))).exists());
    ASSERT_EQ(browserWindow(), browser) << "the window stays open";
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
    ASSERT_NO_FATAL_FAILURE(open(kHead + "<div style='width:3000px;height:40000px;"
                                         "background:#123456'></div></body></html>"));
    ASSERT_NO_FATAL_FAILURE(press("gdzt"));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("网页太大")));
    EXPECT_EQ(QDir(shots).entryList(QDir::Files).size(), 2) << "only the two files put there";
    ASSERT_TRUE(browser) << "the window stays open";
    browser->close();
}

TEST_F(WebCapture, PageNoLargerThanTheViewIsTheView) {
    const QByteArray html = stripes(3);
    ASSERT_NO_FATAL_FAILURE(open(html));
    const QImage saved = capture();
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
    ASSERT_NO_FATAL_FAILURE(open(html));
    const QImage saved = capture();
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
            const QWidget* loading = browserWindow();
            return loading && loading->windowTitle() == QStringLiteral("正在工作...");
        },
        10000));
    EXPECT_FALSE(shell.mainWindow()->isEnabled());
    browser = browserWindow();
    ASSERT_NO_FATAL_FAILURE(press("Stop"));
    EXPECT_EQ(browserWindow(), nullptr);
    EXPECT_TRUE(shell.mainWindow()->isEnabled());
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WebCapture, QuirksModePageScrolledByItsBody) {
    // No doctype: the body, not the root element, scrolls this page.
    const QByteArray html =
        stripes(30, "<html><head><title>Page</title><style>html,body{margin:0;padding:0}"
                    "div{height:100px}</style></head><body>");
    ASSERT_NO_FATAL_FAILURE(open(html));
    const QImage saved = capture();
    ASSERT_EQ(saved.height(), 3000);
    EXPECT_EQ(mismatches(saved, [](int, int y) { return blockColour(y / 100); }), 0);
}

TEST_F(WebCapture, StopClosesTheWindowAndBackWithoutHistoryDoesNothing) {
    ASSERT_NO_FATAL_FAILURE(open(kHead + "<div style='background:#00ff00'></div></body></html>"));
    QAction* back = toolButton(browser, "Back");
    QAction* stop = toolButton(browser, "Stop");
    ASSERT_TRUE(back && stop);
    EXPECT_EQ(back->toolTip(), QStringLiteral("返回"));
    back->trigger();
    QTest::qWait(300);
    ASSERT_EQ(browserWindow(), browser);
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
    ASSERT_NE(browserWindow(), nullptr);
    browserWindow()->close();
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WebCapture, BrowserWindowAnswersTheViewFinderWithTheFramedView) {
    ASSERT_NO_FATAL_FAILURE(open(stripes(12)));
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
