#include "capture/Dispatcher.h"
#include "platform/DesktopSession.h"
#include "platform/KWinDesktop.h"
#include "platform/KWinScreenShot.h"
#include "platform/KeyCodes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace morvane;

struct SessionCase {
    const char* qtPlatform;
    const char* waylandDisplay;
    const char* answers; // who answers: kwin, sway, gnome, portal; x for an X server named
    SessionKind kind;
    const char* runOn; // the Qt platform the program sets; "" leaves the user's
};

class SessionChoiceTest : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionChoiceTest, FollowsTheSessionAndTheUsersPlatform) {
    const SessionCase& c = GetParam();
    const QList<QByteArray> answers = QByteArray(c.answers).split('+');
    SessionFacts facts{c.qtPlatform, c.waylandDisplay};
    facts.kwinAnswers = answers.contains("kwin");
    facts.swayAnswers = answers.contains("sway");
    facts.gnomeAnswers = answers.contains("gnome");
    facts.portalAnswers = answers.contains("portal");
    facts.x11Display = answers.contains("x");
    const SessionChoice choice = chooseSession(facts);
    EXPECT_EQ(choice.kind, c.kind);
    EXPECT_EQ(choice.qtPlatform, QByteArray(c.runOn));
}

constexpr const char* kW = "wayland-0";
INSTANTIATE_TEST_SUITE_P(
    Sessions, SessionChoiceTest,
    ::testing::Values(SessionCase{"", "", "", SessionKind::X11, "xcb"},
                      SessionCase{"", kW, "kwin", SessionKind::KWin, "wayland"},
                      SessionCase{"", kW, "sway", SessionKind::Sway, "wayland"},
                      SessionCase{"", kW, "", SessionKind::Xwayland, "xcb"},
                      SessionCase{"", "", "sway", SessionKind::X11, "xcb"},
                      SessionCase{"", kW, "gnome+portal+x", SessionKind::Gnome, "xcb"},
                      SessionCase{"", kW, "gnome+portal", SessionKind::Gnome, "wayland"},
                      SessionCase{"", kW, "gnome", SessionKind::Xwayland, "xcb"},
                      SessionCase{"", kW, "portal+x", SessionKind::Portal, "xcb"},
                      SessionCase{"", kW, "kwin+portal+x", SessionKind::KWin, "wayland"},
                      SessionCase{"xcb", kW, "kwin", SessionKind::Xwayland, ""},
                      SessionCase{"xcb", kW, "sway", SessionKind::Xwayland, ""},
                      SessionCase{"xcb", kW, "gnome+portal+x", SessionKind::Gnome, ""},
                      SessionCase{"xcb", "", "", SessionKind::X11, ""},
                      SessionCase{"wayland", kW, "kwin", SessionKind::KWin, ""},
                      SessionCase{"wayland", kW, "sway", SessionKind::Sway, ""},
                      SessionCase{"wayland", kW, "portal", SessionKind::Portal, ""},
                      SessionCase{"wayland", kW, "", SessionKind::Elsewhere, ""},
                      SessionCase{"offscreen", kW, "kwin", SessionKind::Elsewhere, ""}));

TEST(KWinSnapshot, ReadsTheScriptsAnswerAndDropsWhatIsIncomplete) {
    const QByteArray answer = R"({"run": 7, "pointer": [12, 34], "windows": [
        {"id": "{a}", "caption": "Top", "resourceClass": "qt_button", "pid": 42,
         "frame": [10, 20, 300, 200], "buffer": [10, 50, 300, 170], "transientFor": "{b}"},
        {"id": "", "caption": "no id", "frame": [0, 0, 5, 5]},
        {"id": "{c}", "caption": "no frame"},
        {"id": "{b}", "caption": "Owner", "pid": -3, "frame": [0, 0, 800, 600]}]})";
    const std::optional<KWinSnapshot> snapshot = parseKWinSnapshot(answer);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->run, 7);
    EXPECT_EQ(snapshot->pointer, QPoint(12, 34));
    ASSERT_EQ(snapshot->windows.size(), 2);
    EXPECT_EQ(snapshot->windows[0].buffer, QRect(10, 50, 300, 170));
    EXPECT_EQ(snapshot->windows[0].pid, 42u);
    EXPECT_EQ(snapshot->windows[1].pid, 0u);
    for (const char* broken : {"", "[]", "{\"pointer\": [1]}", "{\"pointer\": [1, 2"}) {
        EXPECT_FALSE(parseKWinSnapshot(broken)) << broken;
    }
}

// A dialog over its owner, beside another window, as KWin's script reports them.
KWinSnapshot dialogOverItsOwner() {
    KWinSnapshot snapshot;
    snapshot.pointer = QPoint(150, 150);
    snapshot.windows = {
        {"{dialog}", "Save", "app", 9, QRect(100, 100, 200, 100), QRect(100, 130, 200, 70),
         "{main}"},
        {"{main}", "Main", "ThunderFormDC", 9, QRect(0, 0, 640, 480), QRect(), ""},
        {"{other}", "Other", "x", 10, QRect(50, 50, 900, 900), QRect(), "{minimised}"},
    };
    return snapshot;
}

TEST(KWinDesktopWindows, TopmostFirstOwnersByTransienceAndOriginsFromTheSurface) {
    KWinDesktop desktop(nullptr);
    desktop.setSnapshot(dialogOverItsOwner());
    const WindowId dialog = desktop.windowAt(QPoint(150, 150));
    EXPECT_EQ(desktop.windowText(dialog), "Save");
    EXPECT_EQ(desktop.windowAt(QPoint(700, 700)), 3u);
    EXPECT_EQ(desktop.parentOf(dialog), 2u);
    EXPECT_EQ(desktop.parentOf(3), 0u); // its owner is not on the desktop
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Window, dialog), 2u);
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Container, dialog), 2u);
    EXPECT_EQ(desktop.accessibleOrigin(dialog), QPoint(100, 130));
    EXPECT_EQ(desktop.accessibleOrigin(2), QPoint(0, 0)); // no surface reported: the frame
    EXPECT_EQ(desktop.windowRect(99), QRect());
    EXPECT_EQ(desktop.windowProcess(dialog), 9u);
}

TEST(KWinDesktopWindows, ACaptionIsCutAsATitleIs) {
    KWinSnapshot snapshot;
    snapshot.windows = {{"{a}", QString(200, QChar(0x4E2D)), "c", 1, QRect(0, 0, 9, 9), {}, ""}};
    KWinDesktop desktop(nullptr);
    desktop.setSnapshot(snapshot);
    EXPECT_EQ(desktop.windowText(1), QString(84, QChar(0x4E2D)).toUtf8()); // 252 of 254 bytes
}

TEST(KdeShortcutKeys, VirtualKeysBecomeQtKeys) {
    EXPECT_EQ(qtKeyForKeyCode(0x53), int(Qt::Key_S));
    EXPECT_EQ(qtKeyForKeyCode(0x35), int(Qt::Key_5));
    EXPECT_EQ(qtKeyForKeyCode(0x71), int(Qt::Key_F2));
    EXPECT_EQ(qtKeyForKeyCode(0x61), int(Qt::Key_1) | int(Qt::KeypadModifier));
    EXPECT_EQ(qtKeyForKeyCode(0x6B), int(Qt::Key_Plus) | int(Qt::KeypadModifier));
    EXPECT_EQ(qtKeyForKeyCode(0x2C), int(Qt::Key_Print));
    EXPECT_EQ(qtKeyForKeyCode(0xBC), int(Qt::Key_Comma));
    EXPECT_EQ(qtKeyForKeyCode(0x4E2D), std::nullopt);
    EXPECT_EQ(qtModifiersForFlags(kModControl | kModShift),
              int(Qt::ControlModifier) | int(Qt::ShiftModifier));
    EXPECT_EQ(qtModifiersForFlags(kModAlt), int(Qt::AltModifier));
}

TEST(KWinScreenShotRefusal, NamesWhatAuthorisesTheProgram) {
    const QString refused = kwinScreenShot::refusalFor(
        QStringLiteral("org.kde.KWin.ScreenShot2.Error.NoAuthorized"), QStringLiteral("x"));
    EXPECT_TRUE(refused.contains(QLatin1String("org.kde.KWin.ScreenShot2")));
    EXPECT_TRUE(refused.contains(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(
        kwinScreenShot::refusalFor(QStringLiteral("org.kde.KWin.ScreenShot2.Error.Cancelled"), {}),
        QStringLiteral("截屏已被取消"));
}
