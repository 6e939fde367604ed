// The main window's caption buttons and title strip, and the notification-area icon, on
// the private desktop with a notification area (trayer).
#include "shell/FrmMain.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"
#include "shell/TrayIcon.h"
#include "support/DesktopTools.h"
#include "support/RecordingFileDialogs.h"
#include "support/RecordingPrompts.h"
#include "support/ShellInTempFolder.h"
#include "support/Widgets.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using namespace morvane;

namespace {

using test::xdotool;

QWidget* embeddedTrayIcon() {
    return test::visibleTopLevel("QSystemTrayIconSys");
}

class CaptionAndTray : public ::testing::Test, protected test::ShellInTempFolder {
protected:
    Frm_Main& start() {
        shell.setFileDialogs(dialogs);
        EXPECT_TRUE(shell.startUp());
        Frm_Main& w = *shell.mainWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        return w;
    }

    // Which holder's picture a caption button shows.
    static bool shows(const QLabel* button, const QPixmap& picture) {
        return button->pixmap().cacheKey() == picture.cacheKey();
    }

    // QTest moves the real pointer; its events arrive from the X server a moment later.
    static bool soonShows(const QLabel* minimise, const QPixmap& minimisePicture,
                          const QLabel* close, const QPixmap& closePicture) {
        return QTest::qWaitFor(
            [&] { return shows(minimise, minimisePicture) && shows(close, closePicture); }, 3000);
    }

    test::RecordingFileDialogs dialogs; // answers the crop link's open dialog: cancelled
};

} // namespace

TEST_F(CaptionAndTray, CaptionButtonsLightUpAsThePointerMoves) {
    Frm_Main& w = start();
    const QPoint background(200, 180);
    ASSERT_EQ(w.childAt(background), nullptr);
    EXPECT_TRUE(shows(w.Ige_min, w.Image8) && shows(w.Ige_exit, w.Image7));

    QTest::mouseMove(w.Ige_exit, QPoint(9, 9));
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image8, w.Ige_exit, w.Image9));
    QTest::mouseMove(&w, background);
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image8, w.Ige_exit, w.Image7));

    QTest::mouseMove(w.Ige_min, QPoint(9, 9));
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image10, w.Ige_exit, w.Image7));
    QTest::mouseMove(w.Ige_exit, QPoint(9, 9));
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image8, w.Ige_exit, w.Image9));
    // Onto the title: the close button stays lit.
    QTest::mouseMove(w.Label4, QPoint(5, 5));
    QTest::qWait(200);
    EXPECT_TRUE(shows(w.Ige_exit, w.Image9));
    // The title strip resets both.
    QTest::mouseMove(w.Label3, QPoint(300, 10));
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image8, w.Ige_exit, w.Image7));

    // A left press shows the normal picture; other buttons change nothing.
    QTest::mouseMove(w.Ige_exit, QPoint(9, 9));
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image8, w.Ige_exit, w.Image9));
    QTest::mousePress(w.Ige_exit, Qt::RightButton, {}, QPoint(9, 9));
    QTest::mouseRelease(w.Ige_exit, Qt::RightButton, {}, QPoint(9, 9));
    EXPECT_TRUE(shows(w.Ige_exit, w.Image9));
    EXPECT_FALSE(shell.isShutDown());
    QTest::mousePress(w.Ige_exit, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_TRUE(shows(w.Ige_exit, w.Image7));
    QTest::mouseRelease(w.Ige_exit, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_TRUE(shell.isShutDown());
    EXPECT_EQ(endings, 1);
}

TEST_F(CaptionAndTray, MinimiseButtonHidesAndTheTrayBringsTheWindowBack) {
    Frm_Main& w = start();
    QTest::mouseMove(w.Ige_min, QPoint(9, 9));
    EXPECT_TRUE(soonShows(w.Ige_min, w.Image10, w.Ige_exit, w.Image7));
    QTest::mousePress(w.Ige_min, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_TRUE(shows(w.Ige_min, w.Image8));
    QTest::mouseRelease(w.Ige_min, Qt::LeftButton, {}, QPoint(9, 9));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isHidden(); }, 5000));
    EXPECT_TRUE(shows(w.Ige_min, w.Image8) && shows(w.Ige_exit, w.Image7));

    shell.trayIcon()->show->trigger();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
    shell.trayIcon()->hide->trigger();
    EXPECT_TRUE(w.isHidden());
    EXPECT_FALSE(shell.isShutDown());
}

TEST_F(CaptionAndTray, TitleStripDragsTheWindowWithTheLeftButtonOnly) {
    Frm_Main& w = start();
    const QPoint before = w.pos();
    const QPoint grip = w.Label4->mapToGlobal(QPoint(10, 5));
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(grip.x()),
             QString::number(grip.y())});
    xdotool({QStringLiteral("mousedown"), QStringLiteral("3")});
    xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--sync"), QStringLiteral("60"),
             QStringLiteral("40")});
    xdotool({QStringLiteral("mouseup"), QStringLiteral("3")});
    QTest::qWait(200);
    EXPECT_EQ(w.pos(), before);

    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(grip.x()),
             QString::number(grip.y())});
    xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
    for (int step = 0; step < 10; ++step) {
        xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--sync"),
                 QStringLiteral("10"), QStringLiteral("5")});
    }
    xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.pos() == before + QPoint(100, 50); }, 3000))
        << "moved to " << w.pos().x() << "," << w.pos().y();
}

TEST_F(CaptionAndTray, TrayIconTipDoubleClickAndMenu) {
    Frm_Main& w = start();
    TrayIcon& tray = *shell.trayIcon();
    EXPECT_EQ(tray.icon().toolTip(), QStringLiteral("Morvane"));
    EXPECT_FALSE(tray.icon().icon().isNull());
    ASSERT_TRUE(QTest::qWaitFor([] { return embeddedTrayIcon() != nullptr; }, 5000))
        << "the icon never docked in the notification area";
    const QWidget* icon = embeddedTrayIcon();
    const QPoint centre = icon->mapToGlobal(icon->rect().center());
    // No --sync: it would wait for ever when the pointer is already there.
    const QStringList at = {QStringLiteral("mousemove"), QString::number(centre.x()),
                            QString::number(centre.y())};

    w.hide();
    xdotool(at + QStringList{QStringLiteral("click"), QStringLiteral("1")});
    QTest::qWait(400);
    EXPECT_TRUE(w.isHidden()) << "a single click must do nothing";
    EXPECT_FALSE(tray.menu().isVisible());
    xdotool(at + QStringList{QStringLiteral("click"), QStringLiteral("--repeat"),
                             QStringLiteral("2"), QStringLiteral("--delay"), QStringLiteral("80"),
                             QStringLiteral("1")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.isVisible(); }, 3000));

    // The right button opens the menu when it is released, not when it goes down.
    xdotool(at + QStringList{QStringLiteral("mousedown"), QStringLiteral("3")});
    QTest::qWait(300);
    EXPECT_FALSE(tray.menu().isVisible());
    xdotool({QStringLiteral("mouseup"), QStringLiteral("3")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.menu().isVisible(); }, 3000));
    QStringList captions;
    for (const QAction* action : tray.menu().actions()) {
        captions << action->text();
    }
    EXPECT_EQ(captions, QStringList({QStringLiteral("显    示"), QStringLiteral("隐    藏"),
                                     QStringLiteral("退    出")}));
    // At the pointer: beside it, opening upwards or leftwards at the screen's edges.
    const QRect menu = tray.menu().geometry();
    const int dx = std::max({menu.left() - centre.x(), 0, centre.x() - menu.right()});
    const int dy = std::max({menu.top() - centre.y(), 0, centre.y() - menu.bottom()});
    EXPECT_LE(dx + dy, 16) << "menu at " << menu.x() << "," << menu.y();
    tray.menu().hide();

    tray.exit->trigger();
    EXPECT_TRUE(shell.isShutDown());
    EXPECT_EQ(shell.trayIcon(), nullptr);
}

class NoTrayArea : public ::testing::Test, protected test::ShellInTempFolder {};

TEST_F(NoTrayArea, ProgramRunsAndDocksWhenOneAppears) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    ASSERT_TRUE(shell.startUp());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shell.mainWindow()));
    EXPECT_EQ(embeddedTrayIcon(), nullptr);

    QProcess trayer;
    trayer.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--widthtype"),
                  QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("200")});
    ASSERT_TRUE(trayer.waitForStarted());
    EXPECT_TRUE(QTest::qWaitFor([] { return embeddedTrayIcon() != nullptr; }, 10000))
        << "the icon did not dock in a notification area that appeared later";
    trayer.kill();
    trayer.waitForFinished();
    EXPECT_TRUE(shell.mainWindow()->isVisible());
}

TEST_F(CaptionAndTray, LinksUseTheHandPointerAndTheContactLinkIsSilent) {
    Frm_Main& w = start();
    for (const QLabel* link : {w.Label6, w.Label7}) {
        EXPECT_EQ(link->cursor().shape(), Qt::BitmapCursor);
        EXPECT_EQ(link->cursor().hotSpot(), QPoint(5, 0));
        EXPECT_EQ(link->cursor().bitmap().size(), QSize(32, 32));
    }
    EXPECT_EQ(Frm_Main::contactLink(),
              QStringLiteral("tencent://AddContact/?fromId=45&fromSubId=1&subcmd=all&uin=") +
                  w.Label7->text() + QStringLiteral("&website=morvane.example"));
    // No program handles the scheme here: nothing is said and nothing breaks.
    QTest::mouseClick(w.Label7, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(w.Label6, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::qWait(200);
    // The crop link asked for a picture; cancelled, it leaves nothing open.
    EXPECT_EQ(dialogs.requests.size(), 1);
    EXPECT_EQ(shell.cropContainer(), nullptr);
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(shell.isShutDown());
}
