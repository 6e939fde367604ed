#include "support/KWinSession.h"

#include <QProcess>
#include <QRect>
#include <QTest>
#include <gtest/gtest.h>

namespace morvane::test {
namespace {

// Waits up to 5 s for the process to print the line; false when it does not.
bool waitForLine(QProcess& process, const QByteArray& line) {
    for (int i = 0; i < 50; ++i) {
        while (process.canReadLine()) {
            if (process.readLine().trimmed() == line) {
                return true;
            }
        }
        process.waitForReadyRead(100);
    }
    return false;
}

// A started program, ended with the test however the test ends.
struct Program : QProcess {
    ~Program() override {
        terminate();
        if (!waitForFinished(5000)) {
            kill();
            waitForFinished(5000);
        }
    }
};

// The harness itself: a real Qt window on the session's KWin is found through a script,
// reached by the pointer, clicked and typed into.
TEST(KWinSession, ScriptFindsWindowAndInputReachesIt) {
    Program button;
    button.start(MORVANE_QT_BUTTON, {"KWin Session Button", "0", "0"});
    // qt_button prints the button's rectangle inside its window, then "ready".
    ASSERT_TRUE(button.waitForReadyRead(10000)) << button.readAllStandardError().data();
    QTest::qWait(600);
    const QList<QByteArray> rect = button.readLine().trimmed().split(' ');
    ASSERT_EQ(rect.size(), 4);
    const QRect inWindow(rect[0].toInt(), rect[1].toInt(), rect[2].toInt(), rect[3].toInt());

    // The buffer is where the window's own pixels lie, without a decoration KWin draws.
    const QString geometry = kwin::runKWinScript(
        QStringLiteral("var found = '';"
                       "workspace.clientList().forEach(function (c) {"
                       "  if (c.pid === %1) { var g = c.bufferGeometry;"
                       "    found = [g.x, g.y, g.width, g.height].join(' '); } });"
                       "reply(found);")
            .arg(button.processId()));
    const QStringList window = geometry.split(' ');
    ASSERT_EQ(window.size(), 4) << "no window of the button's process: " << geometry.toStdString();
    const QPoint centre = QPoint(window[0].toInt(), window[1].toInt()) + inWindow.center();

    ASSERT_TRUE(kwin::movePointer(centre));
    EXPECT_EQ(kwin::runKWinScript("reply(workspace.cursorPos.x + ' ' + workspace.cursorPos.y);"),
              QStringLiteral("%1 %2").arg(centre.x()).arg(centre.y()));
    ASSERT_TRUE(kwin::click());
    EXPECT_TRUE(waitForLine(button, "clicked"));
    ASSERT_TRUE(kwin::pressKeys("ctrl+s"));
    EXPECT_TRUE(waitForLine(button, "ctrl+s"));
}

} // namespace
} // namespace morvane::test
