// Captures in a real, headless GNOME session (tests/desktop/with-gnome): gnome-shell, its
// settings daemon carrying out custom keybindings, and the desktop portal's screenshots.
// Keys come through mutter's remote-desktop interface (gnome_input).
#include "capture/Dispatcher.h"
#include "platform/DesktopSession.h"
#include "platform/PortalDesktop.h"
#include "platform/PortalScreenShot.h"
#include "support/ColouredWindow.h"
#include "support/ProgramInSession.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

void pressKeys(const char* keys) {
    QProcess::execute(qEnvironmentVariable("MORVANE_GNOME_INPUT"),
                      {QStringLiteral("keys"), QString::fromLatin1(keys)});
}

QString gsettingsList() {
    QProcess process;
    process.start(QStringLiteral("gsettings"),
                  {QStringLiteral("get"),
                   QStringLiteral("org.gnome.settings-daemon.plugins.media-keys"),
                   QStringLiteral("custom-keybindings")});
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A window of one colour over the whole primary screen, drawn before the test goes on.
std::unique_ptr<QWidget> fullScreenWindow(QColor colour) {
    auto window = test::colouredWindow(QStringLiteral("Full"), colour);
    window->showFullScreen();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get(), 10000));
    QTest::qWait(500); // the shell's own animations over
    return window;
}

class GnomeCapture : public ::testing::Test {
protected:
    GnomeCapture() { host.folder = dir.path(); }

    CaptureOutcome capture(CaptureMode mode) {
        host.mode = mode;
        CaptureOutcome outcome;
        dispatcher.setReport([&](const CaptureOutcome& o) { outcome = o; });
        dispatcher.DoCapture();
        return outcome;
    }

    QTemporaryDir dir;
    PortalDesktop desktop{QStringLiteral("GNOME")};
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
};

} // namespace

TEST(GnomeSession, IsChosenWhereTheShellAndItsPortalAnswer) {
    const SessionFacts facts = readSessionFacts();
    EXPECT_TRUE(facts.gnomeAnswers);
    EXPECT_TRUE(facts.portalAnswers);
    EXPECT_EQ(chooseSession(facts).kind, SessionKind::Gnome);
}

TEST_F(GnomeCapture, FullScreenComesFromThePortalAndWindowModesSayWhyNot) {
    const auto green = fullScreenWindow(QColor(0, 255, 0));
    QElapsedTimer timer;
    timer.start();
    const CaptureOutcome full = capture(CaptureMode::FullScreen);
    const qint64 ms = timer.elapsed();
    ASSERT_EQ(full.kind, CaptureOutcome::Kind::Saved) << qPrintable(full.reason);
    const QImage picture(full.path, "BMP");
    ASSERT_EQ(picture.size(), QGuiApplication::primaryScreen()->geometry().size());
    EXPECT_EQ(picture.pixel(picture.rect().center()), 0xff00ff00);
    EXPECT_EQ(clipboard.images.size(), 1);
    std::printf("GNOME portal full screen: %lld ms\n", qint64(ms));

    for (const CaptureMode mode :
         {CaptureMode::Window, CaptureMode::Control, CaptureMode::Container}) {
        const CaptureOutcome none = capture(mode);
        EXPECT_EQ(none.kind, CaptureOutcome::Kind::NoPicture);
        EXPECT_TRUE(none.reason.startsWith(QStringLiteral("GNOME 不让程序得知鼠标下的窗口")))
            << qPrintable(none.reason);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

// with-gnome --screenshot no: the user said no once, and the portal does not ask again.
TEST_F(GnomeCapture, ARefusedScreenshotIsTold) {
    const CaptureOutcome refused = capture(CaptureMode::FullScreen);
    EXPECT_EQ(refused.kind, CaptureOutcome::Kind::NoPicture);
    EXPECT_TRUE(refused.reason == portalRefusal(1) || refused.reason == portalRefusal(2))
        << qPrintable(refused.reason);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

// The whole way a user takes on GNOME: the real program writes its keybinding at start, the
// settings daemon runs `morvane --capture` on the keys, the running program writes the
// capture, and the entry is gone after it exits.
TEST(GnomeProgram, TheHotkeyCapturesThroughTheSettingsDaemonAndIsRemovedAtExit) {
    // The settings go where with-gnome's temporary configuration folder is: dconf keeps GNOME's
    // own settings there too, and the program must read the same ones the settings daemon does.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty()) << "run inside with-gnome";
    test::ProgramInSession program;
    ASSERT_TRUE(
        program.start(QStringLiteral(MORVANE_PROGRAM), "bound in GNOME's settings", 15000, config))
        << program.log.constData();
    EXPECT_TRUE(gsettingsList().contains(QStringLiteral("/morvane/")));
    const auto files = [&] { return program.files(); };
    // The settings daemon takes a new binding a little after it is written (about 0.6 s):
    // pressed until it does.
    for (int press = 0; press < 10 && files() == 0; ++press) {
        pressKeys("ctrl+s");
        if (QTest::qWaitFor([&] { return files() > 0; }, 1000)) {
            break;
        }
    }
    ASSERT_EQ(files(), 1) << (program.log + program.process.readAll()).constData();
    // The picture went onto the X server's clipboard, which GNOME hands on to Wayland
    // applications as soon as it has seen the new owner.
    const auto pastedPng = [] {
        QProcess paste;
        paste.start(QStringLiteral("timeout"),
                    {QStringLiteral("2"), QStringLiteral("wl-paste"), QStringLiteral("--type"),
                     QStringLiteral("image/png")});
        return paste.waitForFinished(5000) &&
               paste.readAllStandardOutput().startsWith("\x89PNG\r\n");
    };
    EXPECT_TRUE(QTest::qWaitFor(pastedPng, 5000));

    program.process.terminate();
    ASSERT_TRUE(program.process.waitForFinished(10000));
    EXPECT_FALSE(gsettingsList().contains(QStringLiteral("/morvane/")))
        << qPrintable(gsettingsList());
    pressKeys("ctrl+s");
    QTest::qWait(500);
    EXPECT_EQ(files(), 1) << "the binding outlived the program";
}
