// Key press to file: starts the program, presses its hotkey with xdotool and times each
// press until the capture file is closed on disk (median of N). The time xdotool itself
// takes to start and send a key is measured alone beside it.
//
//   hotkey_bench PROGRAM [PRESSES]
#include "BenchStats.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

namespace {

bool run(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral("xdotool"), args);
    return tool.waitForFinished(10000) && tool.exitCode() == 0;
}

// Waits up to timeoutMs for a file to be closed after writing in the watched folder.
bool waitForClosedFile(int inotify, int timeoutMs) {
    pollfd p{inotify, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    alignas(inotify_event) char buffer[4096];
    return read(inotify, buffer, sizeof buffer) > 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: hotkey_bench PROGRAM [PRESSES]\n");
        return 2;
    }
    const int presses = argc > 2 ? std::atoi(argv[2]) : 50;
    QTemporaryDir dir;
    const QString shots = dir.filePath(QStringLiteral("shots"));
    QDir().mkpath(shots);
    QDir().mkpath(dir.filePath(QStringLiteral("config/Morvane")));
    QFile settings(dir.filePath(QStringLiteral("config/Morvane/Morvane.conf")));
    settings.open(QIODevice::WriteOnly);
    settings.write("[config]\nsavepath=" + shots.toUtf8() + "\n");
    settings.close();

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    program.setProcessEnvironment(env);
    program.start(QString::fromLocal8Bit(argv[1]), {});
    QThread::sleep(2); // started and idle

    const int inotify = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(inotify, QFile::encodeName(shots).constData(), IN_CLOSE_WRITE);
    std::vector<double> toFile;
    std::vector<double> xdotoolAlone;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer clock;
        clock.start();
        run({QStringLiteral("key"), QStringLiteral("ctrl+s")});
        if (!waitForClosedFile(inotify, 5000)) {
            std::fprintf(stderr, "hotkey_bench: no capture file after a press\n");
            return 1;
        }
        toFile.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        for (const QString& name : QDir(shots).entryList(QDir::Files)) {
            QFile::remove(shots + QLatin1Char('/') + name);
        }
        clock.restart();
        run({QStringLiteral("key"), QStringLiteral("shift")});
        xdotoolAlone.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        QThread::msleep(20);
    }
    std::printf("hotkey_press_to_file_ms_median: %.2f\n", bench::median(toFile));
    std::printf("xdotool_key_alone_ms_median: %.2f\n", bench::median(xdotoolAlone));
    program.terminate();
    program.waitForFinished(5000);
    close(inotify);
    return 0;
}
