#include "DesktopTools.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

namespace morvane::test {

QString runTool(const QString& program, const QStringList& arguments, int timeoutMs) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForStarted(timeoutMs)) {
        ADD_FAILURE() << program.toStdString() << " could not be started";
        return {};
    }
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        ADD_FAILURE() << program.toStdString()
                      << " did not finish in time: " << arguments.join(' ').toStdString();
        return {};
    }
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
}

void xdotool(const QStringList& arguments, int timeoutMs) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, timeoutMs)) {
        tool.kill();
        tool.waitForFinished();
        ADD_FAILURE() << "xdotool did not finish in time: " << arguments.join(' ').toStdString();
        return;
    }
    EXPECT_TRUE(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0)
        << "xdotool " << arguments.join(' ').toStdString()
        << " failed: " << tool.readAllStandardError().toStdString();
}

QImage clipboardFromOutside() {
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-t"),
                 QStringLiteral("image/png"), QStringLiteral("-o")});
    // This process owns the clipboard and must keep answering while xclip asks.
    EXPECT_TRUE(QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, 10000));
    return QImage::fromData(xclip.readAllStandardOutput(), "PNG")
        .convertToFormat(QImage::Format_RGB32);
}

bool waitUntil(const std::function<bool()>& check, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!check()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QThread::msleep(20);
    }
    return true;
}

QStringList visibleWindows(qint64 pid, const QString& titlePattern) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"),
               {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                titlePattern});
    tool.waitForFinished(5000);
    return QString::fromUtf8(tool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

std::optional<QString> waitForWindow(qint64 pid, const QString& titlePattern, int timeoutMs) {
    QString found;
    if (!waitUntil(
            [&] {
                const QStringList windows = visibleWindows(pid, titlePattern);
                if (windows.isEmpty()) {
                    return false;
                }
                found = windows.first();
                return true;
            },
            timeoutMs)) {
        return std::nullopt;
    }
    return found;
}

QRect windowGeometry(const QString& window) {
    const QString shell = runTool(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                              QStringLiteral("--shell"), window});
    int x = 0, y = 0, width = 0, height = 0;
    for (const QString& line : shell.split('\n')) {
        const QString value = line.section('=', 1);
        if (line.startsWith(QLatin1String("X="))) {
            x = value.toInt();
        } else if (line.startsWith(QLatin1String("Y="))) {
            y = value.toInt();
        } else if (line.startsWith(QLatin1String("WIDTH="))) {
            width = value.toInt();
        } else if (line.startsWith(QLatin1String("HEIGHT="))) {
            height = value.toInt();
        }
    }
    return {x, y, width, height};
}

void clickAt(QPoint screenPoint) {
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--sync"),
             QString::number(screenPoint.x()), QString::number(screenPoint.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

Homes::Homes() {
    QDir().mkpath(config());
    QDir().mkpath(runtime());
    QFile::setPermissions(runtime(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QString Homes::withSaveFolder() const {
    const QString shots = root.filePath(QStringLiteral("shots"));
    QDir().mkpath(shots);
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QFile file(settingsFile());
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[config]\nsavepath=" + shots.toUtf8() + "\n");
    return shots;
}

ProgramRun::ProgramRun(const QString& configHome, const QString& runtimeDir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Interrupts as a terminal gives them: a test run in the background has them ignored,
    // and a program keeps a signal ignored that it was started with ignored.
    process_.setChildProcessModifier([] {
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGQUIT, SIG_DFL);
    });
    process_.start(QStringLiteral(MORVANE_PROGRAM), {});
    if (!process_.waitForStarted(10000)) {
        ADD_FAILURE() << "the program could not be started: " << MORVANE_PROGRAM;
    }
}

ProgramRun::~ProgramRun() {
    if (isRunning()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

std::optional<int> ProgramRun::waitForExit(int timeoutMs) {
    if (isRunning() && !process_.waitForFinished(timeoutMs)) {
        return std::nullopt;
    }
    if (process_.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process_.exitCode();
}

std::optional<QString> ProgramRun::waitForMainWindow(int timeoutMs) {
    QString found;
    const bool seen = waitUntil(
        [&] {
            for (const QString& window : visibleWindows(pid(), QStringLiteral("^Morvane$"))) {
                if (windowGeometry(window).size() == QSize(488, 184)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return seen ? std::optional<QString>(found) : std::nullopt;
}

void ProgramRun::killHard() {
    ::kill(static_cast<pid_t>(pid()), SIGKILL);
    process_.waitForFinished(5000);
}

} // namespace morvane::test
