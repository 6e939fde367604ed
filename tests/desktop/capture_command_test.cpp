// `morvane --capture`, as a desktop that runs a command on a key runs it: the real program
// on the private desktop and its session bus, asked from a second process.
#include "support/DesktopTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <iostream>

using namespace morvane::test;

namespace {

struct Asked {
    int status = -1;
    QByteArray error;
};

Asked askToCapture(const Homes& homes) {
    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), homes.config());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), homes.runtime());
    command.setProcessEnvironment(env);
    command.start(QStringLiteral(MORVANE_PROGRAM), {QStringLiteral("--capture")});
    if (!command.waitForFinished(5000) || command.exitStatus() != QProcess::NormalExit) {
        command.kill();
        command.waitForFinished();
        return {};
    }
    return {command.exitCode(), command.readAllStandardError()};
}

} // namespace

TEST(CaptureCommand, CapturesAsAPressDoesAndOnlyWhileTheProgramRuns) {
    Homes homes;
    const QString shots = homes.withSaveFolder();
    const auto files = [&] { return QDir(shots).entryList(QDir::Files).size(); };

    // Nothing runs: the command says so and does not start the program.
    const Asked alone = askToCapture(homes);
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(alone.error, "morvane: Morvane is not running\n");

    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    ASSERT_TRUE(window);

    // The folder picker open (Cmd_App at (344, 144) in the window): the request is taken
    // and, as a press there, does nothing.
    clickAt(windowGeometry(*window).topLeft() + QPoint(344 + 14, 144 + 9));
    const auto picker = waitForWindow(program.pid(), QStringLiteral("^保存路径$"));
    ASSERT_TRUE(picker) << "the folder picker did not open";
    const Asked behindModal = askToCapture(homes);
    EXPECT_EQ(behindModal.status, 0) << behindModal.error.toStdString();
    EXPECT_FALSE(waitUntil([&] { return files() > 0; }, 1000)) << "it captured behind the picker";
    runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                        *picker, QStringLiteral("key"), QStringLiteral("alt+F4")});
    ASSERT_TRUE(waitUntil(
        [&] { return visibleWindows(program.pid(), QStringLiteral("^保存路径$")).isEmpty(); },
        5000));

    // Nothing open: the command returns once the program has the request, and the file
    // follows.
    QElapsedTimer clock;
    clock.start();
    const Asked taken = askToCapture(homes);
    const qint64 answered = clock.elapsed();
    EXPECT_EQ(taken.status, 0) << taken.error.toStdString();
    EXPECT_TRUE(waitUntil([&] { return files() == 1; }, 5000));
    std::cout << "[ measured ] --capture returned after " << answered << " ms, the file after "
              << clock.elapsed() << " ms\n";
    EXPECT_TRUE(program.isRunning());
}
