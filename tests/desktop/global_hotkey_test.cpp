// The system-wide hotkey and the delayed capture on the private X server. Keys are pressed
// with plain `xdotool key`, as a user would press them, while another window has the focus.
#include "common/Prompts.h"
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "support/DesktopTools.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"
#include "support/TestWindows.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

using namespace morvane;

namespace {

// Presses keys with xdotool while this process keeps handling its events.
void press(const QString& keys) {
    test::xdotool({QStringLiteral("key"), keys});
}

class HotkeyTest : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    HotkeyTest() {
        QDir().mkpath(shots());
        SettingsStore(settingsPath).write(QStringLiteral("savepath"), shots());
    }

    QString shots() const { return dir.filePath(QStringLiteral("shots")); }
    qsizetype captures() const { return QDir(shots()).entryList(QDir::Files).size(); }
    bool waitForCaptures(qsizetype count, int ms = 5000) {
        return QTest::qWaitFor([&] { return captures() >= count; }, ms);
    }
    // Gives a press that should do nothing the time it would take to do something.
    bool staysAt(qsizetype count) {
        QTest::qWait(400);
        return captures() == count;
    }

    void startWithKeys(const QString& modifier, const QString& key) {
        settings.write(QStringLiteral("key1"), modifier);
        settings.write(QStringLiteral("key2"), key);
        ASSERT_TRUE(shell.startUp());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(shell.mainWindow()));
        focusAnotherWindow();
    }

    void focusAnotherWindow() {
        const WindowId other = windows.create(
            {.rect = QRect(50, 50, 300, 200), .title = "Other", .className = "Other"});
        test::runTool(
            QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(other)});
        windows.warpPointer(QPoint(100, 100));
    }

    test::TestWindows windows;
};

} // namespace

TEST_F(HotkeyTest, CtrlSCapturesFromAnotherWindowAndWhileHidden) {
    startWithKeys(QStringLiteral("Ctrl"), QStringLiteral("S"));
    press(QStringLiteral("ctrl+s"));
    ASSERT_TRUE(waitForCaptures(1));
    EXPECT_TRUE(QFile::exists(shots() + QStringLiteral("/Othertemp1.bmp")));

    shell.mainWindow()->hide();
    press(QStringLiteral("ctrl+s"));
    EXPECT_TRUE(waitForCaptures(2));
    // The plain letter is not the hotkey.
    press(QStringLiteral("s"));
    EXPECT_TRUE(staysAt(2));
}

TEST_F(HotkeyTest, LockKeysDoNotGetInTheWay) {
    startWithKeys(QStringLiteral("Ctrl"), QStringLiteral("S"));
    press(QStringLiteral("Caps_Lock"));
    press(QStringLiteral("ctrl+s"));
    EXPECT_TRUE(waitForCaptures(1));
    press(QStringLiteral("Caps_Lock"));
    press(QStringLiteral("Num_Lock"));
    press(QStringLiteral("ctrl+s"));
    EXPECT_TRUE(waitForCaptures(2));
    press(QStringLiteral("Num_Lock"));
}

TEST_F(HotkeyTest, AltZAndShiftA) {
    startWithKeys(QStringLiteral("Alt"), QStringLiteral("Z"));
    press(QStringLiteral("alt+z"));
    EXPECT_TRUE(waitForCaptures(1));

    Frm_Main& w = *shell.mainWindow();
    w.Combo1->setEditText(QStringLiteral("Shift"));
    w.Combo2->setEditText(QStringLiteral("A"));
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    EXPECT_TRUE(w.isVisible());
    focusAnotherWindow();
    press(QStringLiteral("shift+a"));
    EXPECT_TRUE(waitForCaptures(2));
    // The earlier combination was released.
    press(QStringLiteral("alt+z"));
    EXPECT_TRUE(staysAt(2));
}

TEST_F(HotkeyTest, UnknownModifierWordMakesTheBareKeyTheHotkey) {
    startWithKeys(QStringLiteral("ctrl"), QStringLiteral("S"));
    press(QStringLiteral("s"));
    EXPECT_TRUE(waitForCaptures(1));
}

TEST_F(HotkeyTest, EmptyKeyOrACombinationHeldElsewhereIsSurvived) {
    // Another client holds Ctrl+S first: the program starts and runs without it, and
    // without the lock-key variants it could still have grabbed.
    xcb_connection_t* c = windows.connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, 0x73); // the S key
    ASSERT_NE(codes, nullptr);
    const xcb_keycode_t keycode = codes[0];
    std::free(codes);
    xcb_key_symbols_free(symbols);
    xcb_grab_key(c, 1, root, XCB_MOD_MASK_CONTROL, keycode, XCB_GRAB_MODE_ASYNC,
                 XCB_GRAB_MODE_ASYNC);
    windows.sync();
    startWithKeys(QStringLiteral("Ctrl"), QStringLiteral("S"));
    press(QStringLiteral("ctrl+s"));
    press(QStringLiteral("Caps_Lock"));
    press(QStringLiteral("ctrl+s"));
    press(QStringLiteral("Caps_Lock"));
    EXPECT_TRUE(staysAt(0));

    // An empty key text grabs nothing and breaks nothing.
    Frm_Main& w = *shell.mainWindow();
    w.Combo2->setEditText(QString());
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    EXPECT_EQ(settings.read(QStringLiteral("key2"), QStringLiteral("absent")), QString());
    w.Combo2->setEditText(QStringLiteral("Q"));
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    focusAnotherWindow();
    press(QStringLiteral("ctrl+q"));
    EXPECT_TRUE(waitForCaptures(1));
}

TEST_F(HotkeyTest, DelayedCaptureFiresOnceAndUnticks) {
    startWithKeys(QStringLiteral("Ctrl"), QStringLiteral("S"));
    Frm_Main& w = *shell.mainWindow();
    prompts.answers << QStringLiteral("1");
    w.Chk_Time->setChecked(true);
    EXPECT_EQ(prompts.inputs.value(0), QStringList({QStringLiteral("请输入延时（单位秒）"),
                                                    QStringLiteral("延时"), QStringLiteral("5")}));
    EXPECT_EQ(w.Timer1->interval(), 1000);
    EXPECT_TRUE(staysAt(0));
    ASSERT_TRUE(waitForCaptures(1, 3000));
    EXPECT_FALSE(w.Chk_Time->isChecked());
    EXPECT_FALSE(w.Timer1->isActive());
    QTest::qWait(1200);
    EXPECT_EQ(captures(), 1);
}

TEST_F(HotkeyTest, DisarmingTheDelay) {
    startWithKeys(QStringLiteral("Ctrl"), QStringLiteral("S"));
    Frm_Main& w = *shell.mainWindow();

    // Unticked while armed: nothing happens.
    prompts.answers << QStringLiteral("0.5");
    w.Chk_Time->setChecked(true);
    w.Chk_Time->setChecked(false);
    QTest::qWait(800);
    EXPECT_EQ(captures(), 0);

    // The hotkey while armed: one capture at once, none later.
    prompts.answers << QStringLiteral("0.6");
    w.Chk_Time->setChecked(true);
    press(QStringLiteral("ctrl+s"));
    ASSERT_TRUE(waitForCaptures(1));
    EXPECT_FALSE(w.Chk_Time->isChecked());
    QTest::qWait(900);
    EXPECT_EQ(captures(), 1);

    // A delay that rounds to nothing unticks at once; one the timer cannot hold is refused.
    prompts.answers << QStringLiteral("0.0005") << QStringLiteral("70") << QString();
    w.Chk_Time->setChecked(true);
    EXPECT_FALSE(w.Chk_Time->isChecked());
    EXPECT_TRUE(prompts.messages.isEmpty());
    w.Chk_Time->setChecked(true);
    EXPECT_FALSE(w.Chk_Time->isChecked());
    EXPECT_FALSE(w.Timer1->isActive());
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("延时须在 0 到 65.535 秒之间")});
    // A cancelled box arms nothing either.
    w.Chk_Time->setChecked(true);
    EXPECT_FALSE(w.Chk_Time->isChecked());
    QTest::qWait(300);
    EXPECT_EQ(captures(), 1);
}
