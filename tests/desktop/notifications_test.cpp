// What the program tells the user when a capture, the hotkey, the settings or the instance
// lock fails, and the quiet feedback of a capture that worked. Runs in a private mount
// namespace (ctest starts it under `unshare -rm`) so that it can make folders read-only or
// full; every mount vanishes with the process.
#include "support/RecordingNotifier.h"
#include "support/ShellInTempFolder.h"
#include "support/TestWindows.h"

#include "shell/FrmMain.h"
#include "shell/TrayIcon.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace morvane {
namespace {

using test::RecordingNotifier;

// How a folder is spoilt, for this process alone.
enum class Spoil { None, ReadOnly, ReadOnlyEmpty, Full };

bool spoil(const QString& folder, Spoil how) {
    const QByteArray at = QFile::encodeName(folder);
    QDir().mkpath(folder);
    switch (how) {
    case Spoil::ReadOnly:
        return ::mount(at, at, nullptr, MS_BIND, nullptr) == 0 &&
               ::mount(nullptr, at, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    case Spoil::ReadOnlyEmpty:
        return ::mount("tmpfs", at, "tmpfs", MS_RDONLY, "size=64k") == 0;
    case Spoil::Full:
        return ::mount("tmpfs", at, "tmpfs", 0, "size=64k") == 0;
    case Spoil::None:
        break;
    }
    return true;
}

// The texts of the tray icon's message balloon once one shows within the time.
QStringList balloonTexts(int timeoutMs) {
    QStringList texts;
    (void)QTest::qWaitFor(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (widget->inherits("QBalloonTip") && widget->isVisible()) {
                    for (const QLabel* label : widget->findChildren<QLabel*>()) {
                        texts << label->text();
                    }
                }
            }
            return !texts.isEmpty();
        },
        timeoutMs);
    return texts;
}

class Notifications : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    ~Notifications() override {
        for (const QString& folder : spoilt) {
            ::umount2(QFile::encodeName(folder), MNT_DETACH);
        }
    }
    void spoilFolder(const QString& folder, Spoil how) {
        ASSERT_TRUE(spoil(folder, how)) << "mounts need a private mount namespace";
        spoilt.prepend(folder);
    }
    Frm_Main& start() {
        shell.setNotifier(notifier);
        EXPECT_TRUE(shell.startUp());
        return *shell.mainWindow();
    }
    QStringList spoilt;
    RecordingNotifier notifier;
};

struct DefaultFolderCase {
    const char* name;
    Spoil programFolder;
    Spoil home;
    QString (*expected)();
};

class DefaultSaveFolder : public Notifications,
                          public ::testing::WithParamInterface<DefaultFolderCase> {};

// Nothing stored: the program's folder where it can take files, else Pictures (made), else
// home; and the choice is only shown, not stored.
TEST_P(DefaultSaveFolder, FollowsWhatTheUserMayWrite) {
    const DefaultFolderCase& c = GetParam();
    if (c.programFolder != Spoil::None) {
        spoilFolder(QCoreApplication::applicationDirPath(), c.programFolder);
    }
    if (c.home != Spoil::None) {
        spoilFolder(QDir::homePath(), c.home);
    }
    EXPECT_EQ(start().Txt_App->text(), c.expected());
    EXPECT_TRUE(QFileInfo(c.expected()).isDir());
    EXPECT_FALSE(QFile::exists(settingsPath));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultSaveFolder,
    ::testing::Values(DefaultFolderCase{"ProgramFolder", Spoil::None, Spoil::None,
                                        &QCoreApplication::applicationDirPath},
                      DefaultFolderCase{"Pictures", Spoil::ReadOnly, Spoil::None,
                                        [] {
                                            return QStandardPaths::writableLocation(
                                                QStandardPaths::PicturesLocation);
                                        }},
                      DefaultFolderCase{"Home", Spoil::ReadOnly, Spoil::ReadOnly, &QDir::homePath}),
    [](const auto& param) { return std::string(param.param.name); });

struct RefusingFolder {
    const char* name;
    Spoil how;
    QString (*reason)();
};

class CaptureNotWritten : public Notifications,
                          public ::testing::WithParamInterface<RefusingFolder> {};

// A folder that takes no file: one notification naming the folder and why, no box, the
// picture on the clipboard.
TEST_P(CaptureNotWritten, IsAnnouncedAndLeftOnTheClipboard) {
    const QString folder = dir.filePath(QStringLiteral("captures"));
    if (GetParam().how != Spoil::None) {
        spoilFolder(folder, GetParam().how);
    }
    Frm_Main& w = start();
    QGuiApplication::clipboard()->clear();
    w.Txt_App->setText(folder);
    shell.dispatcher().DoCapture();

    EXPECT_EQ(notifier.shown, QStringList{QStringLiteral("截图未保存|无法写入文件夹 ") + folder +
                                          QStringLiteral("：") + GetParam().reason() +
                                          QStringLiteral("。图片已在剪贴板上。")});
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(1920, 1080));
    EXPECT_TRUE(QDir(folder).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CaptureNotWritten,
    ::testing::Values(RefusingFolder{"missing", Spoil::None,
                                     [] { return QStringLiteral("文件夹不存在"); }},
                      RefusingFolder{"readonly", Spoil::ReadOnlyEmpty,
                                     [] { return QStringLiteral("文件夹不可写入"); }},
                      RefusingFolder{"full", Spoil::Full, [] { return qt_error_string(ENOSPC); }}),
    [](const auto& param) { return std::string(param.param.name); });

// A saved capture changes only the icon: its tip names the file and it shows "done" for about
// a second. A pending delay counts down in the tip, with a timer that stops with the delay.
TEST_F(Notifications, SuccessAndDelayShowOnlyInTheIcon) {
    Frm_Main& w = start();
    TrayIcon& tray = *shell.trayIcon();
    w.Txt_App->setText(dir.path());
    shell.dispatcher().DoCapture();
    const QString file = shell.dispatcher().lastFile();
    ASSERT_TRUE(QFile::exists(file));
    EXPECT_TRUE(tray.icon().toolTip().endsWith(QStringLiteral("已保存：") + file));
    EXPECT_TRUE(tray.showsDone());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !tray.showsDone(); }, 1500));
    EXPECT_TRUE(notifier.shown.isEmpty());

    prompts.answers << QStringLiteral("3");
    w.Chk_Time->setChecked(true);
    EXPECT_TRUE(tray.icon().toolTip().contains(QStringLiteral("3 秒后抓图")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return tray.icon().toolTip().contains(QStringLiteral("2 秒后抓图")); }, 1500));
    w.Chk_Time->setChecked(false);
    EXPECT_FALSE(tray.icon().toolTip().contains(QStringLiteral("秒后")));
    EXPECT_FALSE(tray.countingDown()) << "the count must not run while nothing is pending";
}

// Ctrl+S held by another X client is said at start-up and whenever 确定 applies it again; a
// free combination is not. A read-only settings folder is said by both OK buttons.
TEST_F(Notifications, RefusedHotkeyAndUnstoredSettingsAreAnnounced) {
    test::TestWindows other;
    xcb_connection_t* c = other.connection();
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, 0x73); // the S key
    ASSERT_NE(codes, nullptr);
    xcb_grab_key(c, 1, other.root(), XCB_MOD_MASK_CONTROL, codes[0], XCB_GRAB_MODE_ASYNC,
                 XCB_GRAB_MODE_ASYNC);
    std::free(codes);
    xcb_key_symbols_free(symbols);
    other.sync();

    Frm_Main& w = start();
    w.Combo2->setEditText(QStringLiteral("D"));
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    spoilFolder(dir.path(), Spoil::ReadOnly);
    w.Combo2->setEditText(QStringLiteral("S"));
    QTest::mouseClick(w.Cmd_Yes, Qt::LeftButton);
    QTest::mouseClick(w.Cmd_Ok, Qt::LeftButton);
    const QString refused = QStringLiteral(
        "抓图组合键不可用|组合键 Ctrl+S 无法使用，可能已被其他程序占用。请另选组合键后按“确定”。");
    const QString unstored = QStringLiteral("设置未保存|无法写入设置文件 ") + settingsPath +
                             QStringLiteral("。所作的设置只在本次运行中有效。");
    EXPECT_EQ(notifier.shown, QStringList({refused, unstored, refused, unstored}));
}

// A read-only runtime folder: the lock moves to the fallback folder and still keeps a second
// copy out; with no usable folder at all the program runs and says so.
TEST_F(Notifications, InstanceLockFallsBackAndAnnouncesWhenNoneWorks) {
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    spoilFolder(runtime, Spoil::ReadOnlyEmpty);
    const QString runtimeLock = runtime + QStringLiteral("/morvane.lock");
    const QString cacheLock = dir.filePath(QStringLiteral("cache/morvane.lock"));
    InstanceLock first(runtimeLock, cacheLock);
    EXPECT_TRUE(first.acquire());
    EXPECT_TRUE(first.held());
    EXPECT_TRUE(QFile::exists(cacheLock));
    InstanceLock second(runtimeLock, cacheLock);
    EXPECT_FALSE(second.acquire());

    InstanceLock none(runtimeLock, runtime + QStringLiteral("/cache/morvane.lock"));
    Shell unlocked(settings, prompts, none, [] {});
    unlocked.setNotifier(notifier);
    ASSERT_TRUE(unlocked.startUp());
    EXPECT_FALSE(none.held());
    ASSERT_EQ(notifier.shown.size(), 1);
    EXPECT_TRUE(notifier.shown[0].startsWith(QStringLiteral("无法确认程序是否已在运行|")));
    unlocked.shutDown();
}

// Without a notification area the minimise button leaves the window in the task bar, since
// no icon could bring a hidden one back. The real icon's message waits for an area to appear;
// on an XEmbed one Qt shows it in a balloon window of its own.
TEST(WithoutTrayArea, MinimiseStaysInTheTaskBarAndMessagesWait) {
    test::ShellInTempFolder program;
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    ASSERT_TRUE(program.shell.startUp());
    Frm_Main& w = *program.shell.mainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.Ige_min, Qt::LeftButton);
    QTest::qWait(500);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);

    w.Txt_App->setText(program.dir.filePath(QStringLiteral("missing")));
    program.shell.dispatcher().DoCapture();
    EXPECT_TRUE(balloonTexts(300).isEmpty());
    QProcess trayer;
    trayer.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("bottom")});
    ASSERT_TRUE(trayer.waitForStarted());
    const QStringList texts = balloonTexts(10000);
    EXPECT_TRUE(texts.contains(QStringLiteral("截图未保存")));
    EXPECT_TRUE(texts.join('\n').contains(program.dir.filePath(QStringLiteral("missing"))));
    trayer.kill();
    trayer.waitForFinished();
}

} // namespace
} // namespace morvane
