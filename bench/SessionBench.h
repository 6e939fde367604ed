#pragma once

// What the benches of the Wayland sessions share: the program started with a save folder of
// its own, runs timed to the complete capture file, and the capture engine's host in memory.
#include "BenchStats.h"
#include "capture/Dispatcher.h"
#include "common/Prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <time.h>
#include <vector>

namespace bench {

inline double msSince(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// The median of `runs` timed calls, the application's events handled between them.
inline double medianMs(int runs, const std::function<void()>& call) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        call();
        times.push_back(msSince(clock));
        QCoreApplication::processEvents();
    }
    return median(times);
}

// The size of the full-screen BMP of the primary screen.
inline off_t fullScreenBmpSize() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const off_t rowBytes = (static_cast<off_t>(screen.width()) * 3 + 3) & ~off_t{3};
    return 54 + rowBytes * screen.height();
}

// The real program with a save folder and settings of its own, its log in a file (so that a
// full pipe never stalls it).
struct BenchProgram {
    QTemporaryDir dir;
    QString shots = dir.filePath(QStringLiteral("shots"));
    QString log = dir.filePath(QStringLiteral("morvane.log"));
    QProcess process;

    // Starts it and waits up to `ms` for its log to say `ready`. Its settings go into a
    // configuration folder of its own, or (sessionConfig) into the session's, where a desktop
    // that keeps its own settings there (GNOME's dconf) has the program read the same ones.
    bool start(const QString& program, const QByteArray& ready, int ms,
               bool sessionConfig = false) {
        QDir().mkpath(shots);
        const QString config = sessionConfig ? qEnvironmentVariable("XDG_CONFIG_HOME")
                                             : dir.filePath(QStringLiteral("config"));
        QDir().mkpath(config + QStringLiteral("/Morvane"));
        QFile settings(config + QStringLiteral("/Morvane/Morvane.conf"));
        if (!settings.open(QIODevice::WriteOnly)) {
            return false;
        }
        settings.write("[config]\nsavepath=" + shots.toUtf8() + "\n");
        settings.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("morvane.info=true"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(log);
        process.start(program, {});
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QFile text(log);
            if (text.open(QIODevice::ReadOnly) && text.readAll().contains(ready)) {
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }

    ~BenchProgram() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Times from starting `command` to a new complete file in the folder, once per run; empty
// when a run writes none within 5 s. Each file found joins `known`.
inline std::vector<double> toFile(const QString& program, const QStringList& args, int runs,
                                  const QByteArray& folder, off_t expected,
                                  std::set<std::string>& known) {
    std::vector<double> times;
    const timespec step{0, 200'000};
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        QProcess tool;
        tool.start(program, args);
        std::string name;
        while ((name = newFileOfSize(folder, expected, known)).empty() && clock.elapsed() < 5000) {
            nanosleep(&step, nullptr);
        }
        const double ms = msSince(clock);
        tool.waitForFinished(5000);
        if (name.empty()) {
            std::fprintf(stderr, "bench: no complete capture file after %s run %d\n",
                         qPrintable(program), i + 1);
            return {};
        }
        times.push_back(ms);
        known.insert(name);
        QThread::msleep(100); // the program idle again
    }
    return times;
}

// The program's processor time and context switches over `idle` quiet seconds, as one figure
// of the session.
inline void printIdle(const char* session, qint64 pid, int idle) {
    const Usage start = usageOf(pid);
    QThread::sleep(static_cast<unsigned long>(idle));
    const Quiet quiet = between(start, usageOf(pid));
    std::printf("%s_idle_cpu_ms_context_switches_over_%ds: %.0f %ld (%d threads ended)\n", session,
                idle, quiet.cpuMs, quiet.switches, quiet.threadsEnded);
}

// The hotkey's figures of the session: press to file, median and fastest, and the program's
// processor time per press between `before` and `after`.
inline void printPresses(const char* session, const std::vector<double>& times, const Usage& before,
                         const Usage& after) {
    std::printf("%s_hotkey_press_to_file_ms_median: %.2f\n", session, median(times));
    std::printf("%s_hotkey_press_to_file_ms_min: %.2f\n", session,
                *std::min_element(times.begin(), times.end()));
    std::printf("%s_hotkey_program_cpu_ms_per_press: %.2f\n", session,
                (after.cpuMs - before.cpuMs) / static_cast<double>(times.size()));
}

// The capture engine's host: a folder, a mode, the pointer drawn in full-screen captures.
struct Host final : morvane::CaptureHost {
    QString folder;
    morvane::CaptureMode mode = morvane::CaptureMode::FullScreen;
    QString saveFolder() const override { return folder; }
    morvane::CaptureMode captureMode() const override { return mode; }
    bool pointerOverlay() const override { return mode == morvane::CaptureMode::FullScreen; }
    void holdPicture(const QImage&) override {}
    void disarmDelayedCapture() override {}
};

struct SilentPrompts final : morvane::Prompts {
    void message(const QString&, morvane::MessageScope) override {}
    QString input(const QString&, const QString&, const QString&) override { return {}; }
};

} // namespace bench
