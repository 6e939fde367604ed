// Captures in a real, headless sway session (tests/desktop/with-sway): pixels through sway's
// screencopy, windows from its IPC tree, real Qt 6 and GTK 3 clients, keys from wtype. sway
// cannot move its pointer without a pointer device, so a test chooses the window "under the
// pointer" by focusing it, as the pointer would.
#include "capture/Dispatcher.h"
#include "platform/Accessibility.h"
#include "platform/DesktopSession.h"
#include "platform/KeyCodes.h"
#include "platform/SwayDesktop.h"
#include "platform/SwayHotkey.h"
#include "support/ColouredWindow.h"
#include "support/ProgramInSession.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

QImage loadBmp(const QString& path) {
    return QImage(path, "BMP").convertToFormat(QImage::Format_RGB32);
}

std::unique_ptr<SwayIpc> swayIpc() {
    return std::make_unique<SwayIpc>(SwayIpc::socketFromEnvironment());
}

bool swaymsg(const QString& command) {
    QProcess process;
    process.start(QStringLiteral("swaymsg"), {command});
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

class SwayCapture : public ::testing::Test {
protected:
    SwayCapture() {
        host.folder = dir.path();
        dispatcher.setAccessibleLookup(&accessibility);
    }

    // Focuses the window with the title once sway shows it, and gives its frame; a test
    // compares the capture with it after the window has drawn itself.
    QRect focusWindow(const QString& title) {
        QRect frame;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                if (!swaymsg(QStringLiteral("[title=\"^%1$\"] focus").arg(title))) {
                    return false;
                }
                SwayDesktop probe(swayIpc());
                const WindowId window = probe.windowAt(probe.pointerPosition());
                frame =
                    probe.windowText(window) == title.toUtf8() ? probe.windowRect(window) : QRect();
                return !frame.isEmpty();
            },
            10000))
            << qPrintable(title);
        QTest::qWait(300); // its first frames drawn
        return frame;
    }

    QImage capture(CaptureMode mode) {
        host.mode = mode;
        dispatcher.DoCapture();
        return dispatcher.lastFile().isEmpty() ? QImage() : loadBmp(dispatcher.lastFile());
    }

    QString written() const { return QFileInfo(dispatcher.lastFile()).fileName(); }

    QTemporaryDir dir;
    AccessibilitySwitch accessibilityOn;
    SwayDesktop desktop{swayIpc()};
    AtspiLookup accessibility{desktop};
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
};

} // namespace

TEST_F(SwayCapture, FullScreenAndWindowAreWhatTheScreenShows) {
    const auto red = test::colouredWindow(QStringLiteral("Red"), QColor(255, 0, 0));
    const QRect frame = focusWindow(QStringLiteral("Red"));
    QElapsedTimer timer;
    timer.start();
    const QImage screen = capture(CaptureMode::FullScreen);
    const qint64 screenMs = timer.restart();
    ASSERT_EQ(screen.size(), desktop.primaryScreenRect().size());
    EXPECT_EQ(screen.pixel(frame.center()), 0xffff0000);

    const QImage window = capture(CaptureMode::Window);
    const qint64 windowMs = timer.elapsed();
    EXPECT_EQ(written(), QStringLiteral("Redtemp2.bmp")); // the full screen took the first name
    ASSERT_EQ(window.size(), frame.size());
    EXPECT_TRUE(window == screen.copy(frame));
    EXPECT_EQ(clipboard.images.size(), 2);
    if (QGuiApplication::screens().size() > 1) { // run with two outputs side by side
        ASSERT_TRUE(swaymsg(QStringLiteral("[title=\"^Red$\"] move to output HEADLESS-2")));
        const QRect moved = focusWindow(QStringLiteral("Red"));
        ASSERT_GE(moved.left(), screen.width());
        const QImage both = desktop.grabScreen(QRect(QPoint(0, 0), desktop.screenSize()));
        EXPECT_EQ(both.size(), QSize(screen.width() * 2, screen.height()));
        EXPECT_EQ(both.pixel(moved.center()), 0xffff0000);
        EXPECT_TRUE(capture(CaptureMode::Window) == both.copy(moved));
    }
    std::printf("sway capture: full screen %lld ms, window %lld ms\n", qint64(screenMs),
                qint64(windowMs));
}

TEST(SwaySession, IsChosenWhenSwayAnswers) {
    const SessionFacts facts = readSessionFacts();
    EXPECT_TRUE(facts.swayAnswers);
    EXPECT_FALSE(facts.kwinAnswers);
    EXPECT_EQ(chooseSession(facts).kind, SessionKind::Sway);
}

// GTK 3 reports its controls relative to its own surface; the origin sway's tree gives puts
// them on the screen. The focused window's centre, where the pointer is taken to be, lies
// in the window's entry.
TEST_F(SwayCapture, TheControlAtTheFocusedWindowsCentreIsWhereTheScreenShowsIt) {
    QProcess gtk;
    gtk.start(QStringLiteral("/usr/bin/python3"),
              {QStringLiteral(MORVANE_TEST_SUPPORT "/gtk_window.py"),
               QStringLiteral("Gtk Controls"), QStringLiteral("0"), QStringLiteral("0")});
    QList<QRect> rects;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (gtk.canReadLine()) {
                const QList<QByteArray> words = gtk.readLine().trimmed().split(' ');
                if (words.value(0) == "ready") {
                    return true;
                }
                if (words.size() == 4) {
                    rects << QRect(words[0].toInt(), words[1].toInt(), words[2].toInt(),
                                   words[3].toInt());
                }
            }
            return false;
        },
        15000));
    ASSERT_EQ(rects.size(), 4);
    ASSERT_TRUE(swaymsg(QStringLiteral("[title=\"^Gtk Controls$\"] floating enable")));
    const QRect frame = focusWindow(QStringLiteral("Gtk Controls"));
    desktop.pointerPosition();
    const QPoint origin = *desktop.accessibleOrigin(desktop.windowAt(frame.center()));
    const QRect entry = rects[3].translated(origin);
    ASSERT_TRUE(entry.contains(frame.center()))
        << qPrintable(QString("%1,%2").arg(origin.x()).arg(origin.y()));

    const QImage whole = capture(CaptureMode::Window);
    ASSERT_EQ(whole.size(), frame.size());
    const QImage control = capture(CaptureMode::Control);
    EXPECT_EQ(written(), QStringLiteral("example.orgpagetemp1.bmp")); // the entry's text
    EXPECT_TRUE(control == whole.copy(entry.translated(-frame.topLeft())));
    gtk.kill();
    gtk.waitForFinished(3000);
}

// The hotkey's binding runs its command on the keys; a second program's binding of the same
// keys (this one's after a crash) replaces it, a release removes it, and a combination the
// configuration binds is refused.
TEST(SwayHotkeyBinding, BoundReplacedReleasedAndTheConfigurationsOwnRefused) {
    QTemporaryDir dir;
    const auto press = [] {
        QProcess::execute(QStringLiteral("wtype"), {"-M", "ctrl", "-M", "shift", "-s", "30", "k",
                                                    "-m", "shift", "-m", "ctrl"});
    };
    const auto touched = [&](const char* name) {
        return QTest::qWaitFor([&] { return QFile::exists(dir.filePath(name)); }, 3000);
    };
    SwayHotkey first(swayIpc(), "touch '" + dir.filePath("first").toUtf8() + "'");
    ASSERT_TRUE(first.grab(kModControl | kModShift, 0x4B));
    press();
    EXPECT_TRUE(touched("first"));

    SwayHotkey second(swayIpc(), "touch '" + dir.filePath("second").toUtf8() + "'");
    ASSERT_TRUE(second.grab(kModControl | kModShift, 0x4B));
    QFile::remove(dir.filePath("first"));
    press();
    EXPECT_TRUE(touched("second"));
    EXPECT_FALSE(QFile::exists(dir.filePath("first")));

    second.release();
    QFile::remove(dir.filePath("second"));
    press();
    QTest::qWait(500);
    EXPECT_FALSE(QFile::exists(dir.filePath("second")));

    // with-sway's configuration binds Ctrl+Alt+Delete.
    EXPECT_FALSE(first.grab(kModControl | kModAlt, 0x2E));
}

// The whole way a user takes on sway: the real program binds its hotkey at start, sway runs
// `morvane --capture` on the key, and the running program writes the capture.
TEST(SwayProgram, TheHotkeyCapturesThroughItsBindingAndIsUnboundAtExit) {
    test::ProgramInSession program;
    ASSERT_TRUE(program.start(QStringLiteral(MORVANE_PROGRAM), "bound in sway", 10000))
        << program.log.constData();
    const auto files = [&] { return program.files(); };
    const auto pressCtrlS = [] {
        QProcess::execute(QStringLiteral("wtype"), {"-M", "ctrl", "-s", "30", "s", "-m", "ctrl"});
    };
    pressCtrlS();
    EXPECT_TRUE(QTest::qWaitFor([&] { return files() == 1; }, 5000)) << program.log.constData();

    program.process.terminate();
    ASSERT_TRUE(program.process.waitForFinished(10000));
    pressCtrlS();
    QTest::qWait(500);
    EXPECT_EQ(files(), 1) << "the binding outlived the program";
}
