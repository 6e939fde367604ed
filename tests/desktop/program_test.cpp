// The program as a user meets it: started as its own process on the private desktop,
// driven with xdotool, its settings file read back from disk.
#include "support/DesktopTools.h"
#include "support/PageServer.h"
#include "support/Pictures.h"
#include "support/ProgramWeb.h"
#include "support/TestWindows.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

using namespace morvane::test;

namespace {

// Closes a window the way the user does with Alt+F4 (the window manager asks it to close).
void closeWithAltF4(const QString& window) {
    runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                        window, QStringLiteral("key"), QStringLiteral("alt+F4")});
}

} // namespace

TEST(Program, SecondInstanceShowsOneBoxThenExitsAndTheFirstKeepsRunning) {
    Homes homes;
    ProgramRun first(homes.config(), homes.runtime());
    const auto mainWindow = first.waitForMainWindow();
    ASSERT_TRUE(mainWindow) << "the first instance never showed its window";

    ProgramRun second(homes.config(), homes.runtime());
    const auto box = waitForWindow(second.pid(), QStringLiteral("^Morvane$"));
    ASSERT_TRUE(box) << "the second instance showed no message";
    EXPECT_NE(windowGeometry(*box).size(), QSize(488, 184)) << "it showed a main window instead";
    // Exactly one box: nothing else of the second instance is on the screen.
    EXPECT_EQ(visibleWindows(second.pid(), QStringLiteral(".*")).size(), 1);

    runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                        *box, QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_EQ(second.waitForExit(), 0);
    EXPECT_TRUE(first.isRunning());
    // xdotool can miss windows while another one is being destroyed: ask until it settles.
    EXPECT_TRUE(waitUntil(
        [&] {
            return visibleWindows(first.pid(), QStringLiteral("^Morvane$")) ==
                   QStringList{*mainWindow};
        },
        5000));
    EXPECT_FALSE(QFileInfo::exists(homes.settingsFile()));
}

TEST(Program, KilledInstanceDoesNotBlockTheNextStart) {
    Homes homes;
    {
        ProgramRun crashed(homes.config(), homes.runtime());
        ASSERT_TRUE(crashed.waitForMainWindow());
        crashed.killHard();
    }
    ProgramRun next(homes.config(), homes.runtime());
    EXPECT_TRUE(next.waitForMainWindow()) << "a lock left by a killed instance blocked the start";
}

TEST(Program, OkClickedOnScreenWritesBothKeysAndClosingEndsWithStatusZero) {
    Homes homes;
    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);
    EXPECT_FALSE(QFileInfo::exists(homes.settingsFile())) << "start-up wrote settings";

    // Cmd_Yes lies at (256, 37), 65 x 20 pixels, in the window at 96 DPI.
    const QRect where = windowGeometry(*window);
    clickAt(where.topLeft() + QPoint(256 + 32, 37 + 10));
    ASSERT_TRUE(
        waitUntil([&] { return fileBytes(homes.settingsFile()).contains("key2=S"); }, 5000));
    const QByteArray stored = fileBytes(homes.settingsFile());
    EXPECT_TRUE(stored.contains("[config]\n")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("key1=Ctrl\n")) << stored.toStdString();
    EXPECT_FALSE(stored.contains("savepath")) << stored.toStdString();

    closeWithAltF4(*window);
    EXPECT_EQ(program.waitForExit(), 0);
    EXPECT_EQ(fileBytes(homes.settingsFile()), stored) << "shutdown wrote settings";
}

TEST(Program, GarbageSettingsFileStartsWithDefaultsAndIsLeftAlone) {
    Homes homes;
    QDir().mkpath(QFileInfo(homes.settingsFile()).path());
    const QByteArray garbage("\x89PNG\r\n\x1a\n not settings = [ ;", 28);
    {
        QFile file(homes.settingsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);
    closeWithAltF4(*window);
    EXPECT_EQ(program.waitForExit(), 0);
    EXPECT_EQ(fileBytes(homes.settingsFile()), garbage);
}

TEST(Program, HotkeyCapturesIntoTheStoredFolderWhileHidden) {
    Homes homes;
    const QString shots = homes.withSaveFolder();
    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);
    runTool(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), *window});
    ASSERT_TRUE(waitUntil(
        [&] { return visibleWindows(program.pid(), QStringLiteral("^Morvane$")).isEmpty(); },
        5000));

    runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+s")});
    EXPECT_TRUE(waitUntil([&] { return QDir(shots).entryList(QDir::Files).size() == 1; }, 5000));
    EXPECT_TRUE(program.isRunning());
}

TEST(Program, TrayMenuExitEndsWithStatusZeroAndRemovesTheIcon) {
    Homes homes;
    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);
    // The docked icon: the program's small window inside the notification area.
    QString icon;
    ASSERT_TRUE(waitUntil(
        [&] {
            for (const QString& w : visibleWindows(program.pid(), QStringLiteral(".*"))) {
                const QRect g = windowGeometry(w);
                if (g.width() > 4 && g.width() <= 64 && QRect(0, 0, 1920, 1080).contains(g)) {
                    icon = w;
                    return true;
                }
            }
            return false;
        },
        5000));
    const QRect where = windowGeometry(icon);
    const qint64 pid = program.pid();
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QString::number(where.center().x()),
             QString::number(where.center().y()), QStringLiteral("click"), QStringLiteral("3")});
    QThread::msleep(300);
    // The last item, "退    出", from the keyboard: Up from no item wraps to it.
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("key"), QStringLiteral("Up"), QStringLiteral("Return")});
    EXPECT_EQ(program.waitForExit(), 0);
    EXPECT_TRUE(visibleWindows(pid, QStringLiteral(".*")).isEmpty()) << "the icon stayed";
}

TEST(Program, TerminateInterruptAndHangUpEndThroughTheShutdown) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        Homes homes;
        ProgramRun program(homes.config(), homes.runtime());
        ASSERT_TRUE(program.waitForMainWindow());
        const QString lock = homes.runtime() + QStringLiteral("/morvane.lock");
        ASSERT_TRUE(QFileInfo::exists(lock));
        ::kill(static_cast<pid_t>(program.pid()), signal);
        EXPECT_EQ(program.waitForExit(), 0);
        // The lock goes with the shutdown; a program the signal ends leaves it behind.
        EXPECT_FALSE(QFileInfo::exists(lock));
    }
}

// Named for the web group, which runs the web engine (under the sanitizers, with the check
// that Chromium's own deletes fail switched off).
TEST(WebCaptureProgram, MainWindowClosedLikeATitleBarWithTheBrowserOpenEndsTheProgram) {
    // A page that asks before it is left, clicked so that it may.
    PageServer server("<!DOCTYPE html><html><head><title>Page</title></head><body><script>"
                      "addEventListener('beforeunload', function (e) { e.preventDefault();"
                      " e.returnValue = ''; });</script></body></html>");
    Homes homes;
    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);
    requestPage(*window, server.url().toString());
    // The page is served from this process's event loop.
    const auto browser = pageWindow(program.pid());
    ASSERT_TRUE(browser) << "no browser window showed the page";
    clickAt(windowGeometry(browser->first).center());
    QTest::qWait(200);
    TestWindows().closeLikeTitleBar(window->toUInt());
    EXPECT_EQ(program.waitForExit(), 0) << "the close was ignored";
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/proc/%1").arg(browser->second)))
        << "the browser window's process outlived the program";
}

// The window's process captures the page and ends with the window; the program shows the
// outcome, keeps the page on its clipboard and takes requests again.
TEST(WebCaptureProgram, PageCapturedInTheWindowsProcessStaysOnTheClipboardAfterIt) {
    QByteArray html = "<!DOCTYPE html><html><head><title>Page</title><style>body{margin:0}"
                      "div{height:500px}</style></head><body>";
    for (const char* colour : {"#ff0000", "#00ff00", "#0000ff", "#ffff00", "#00ffff"}) {
        html += QByteArray("<div style=\"background:") + colour + "\"></div>";
    }
    PageServer server(html + "</body></html>");
    Homes homes;
    const QString shots = homes.withSaveFolder();
    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);
    requestPage(*window, server.url().toString());
    const auto browser = pageWindow(program.pid());
    ASSERT_TRUE(browser) << "no browser window showed the page";
    QTest::qWait(500);
    // 滚动抓图, the toolbar's seventh button.
    clickAt(insideOrigin(browser->first) + kCaptureButton);
    const std::optional<QString> done = boxOf(browser->second, 30000);
    ASSERT_TRUE(done) << "no message after the capture";
    closeBox(*done);
    EXPECT_TRUE(processEnds(browser->second, 10000))
        << "the window's process did not end with its window";

    const QImage file(shots + QStringLiteral("/temp1.bmp"));
    ASSERT_EQ(file.height(), 2500);
    const QRgb colours[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffff00, 0x00ffff};
    for (int band = 0; band < 5; ++band) {
        EXPECT_EQ(file.pixel(10, band * 500 + 250) & 0xffffff, colours[band]) << "band " << band;
    }
    QProcess paste;
    paste.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                 QStringLiteral("image/png"), QStringLiteral("-o")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return paste.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(QImage::fromData(paste.readAllStandardOutput()).convertToFormat(QImage::Format_RGB32),
              file.convertToFormat(QImage::Format_RGB32));
    // The main window takes requests again: a full-screen capture by the hotkey.
    clickAt(windowGeometry(*window).topLeft() + QPoint(kFullScreenX, kFullScreenY));
    runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+s")});
    EXPECT_TRUE(waitUntil([&] { return QDir(shots).entryList(QDir::Files).size() == 2; }, 5000));
}
