// Accessibility-bus figures on the current X display, one "name: value" line each, for the
// window under a point (the bus must be up and the application on it):
//   - the bus look-up there (median and worst of N);
//   - a control-mode capture there beside a full-screen one (medians of N);
//   - this process's processor time and wake-ups over IDLE seconds after the bus was joined,
//     while the applications go on emitting their events.
//
//   a11y_bench LABEL X Y [RUNS] [IDLE]
#include "BenchStats.h"
#include "capture/Dispatcher.h"
#include "common/Prompts.h"
#include "platform/Accessibility.h"
#include "platform/X11Desktop.h"
#include "shell/Shell.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace morvane;

namespace {

struct Host final : CaptureHost {
    QString folder;
    CaptureMode mode = CaptureMode::FullScreen;
    QString saveFolder() const override { return folder; }
    CaptureMode captureMode() const override { return mode; }
    bool pointerOverlay() const override { return false; }
    void holdPicture(const QImage&) override {}
    void disarmDelayedCapture() override {}
};

struct SilentPrompts final : Prompts {
    void message(const QString&, MessageScope) override {}
    QString input(const QString&, const QString&, const QString&) override { return {}; }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Voluntary context switches of all this process's threads: each is a wake-up.
long wakeUps() {
    long total = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(QStringLiteral("/proc/self/task/%1/status").arg(task));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:")) {
                total += line.mid(24).trimmed().toLong();
            }
        }
    }
    return total;
}

double msSince(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: a11y_bench LABEL X Y [RUNS] [IDLE]\n");
        return 2;
    }
    const QByteArray label = argv[1];
    const QPoint point(std::atoi(argv[2]), std::atoi(argv[3]));
    const int runs = argc > 4 ? std::atoi(argv[4]) : 50;
    const int idle = argc > 5 ? std::atoi(argv[5]) : 30;
    QTemporaryDir dir;
    X11Desktop desktop;
    AtspiLookup lookup{desktop};
    Host host;
    host.folder = dir.path();
    SilentPrompts prompts;
    QtClipboard clipboard;
    Dispatcher dispatcher(host, desktop, prompts, clipboard);
    dispatcher.setAccessibleLookup(&lookup);
    QCursor::setPos(point);

    const WindowId window = desktop.windowAt(point);
    const QRect windowRect = desktop.windowRect(window);
    std::vector<double> lookups;
    int answered = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        answered += lookup.elementAt(window, windowRect, point) ? 1 : 0;
        lookups.push_back(msSince(clock));
    }
    std::printf("%s_lookup_ms_median_worst: %.2f %.2f (%d of %d answered)\n", label.data(),
                bench::median(lookups), *std::max_element(lookups.begin(), lookups.end()), answered,
                runs);

    for (const CaptureMode mode : {CaptureMode::Control, CaptureMode::FullScreen}) {
        host.mode = mode;
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            dispatcher.DoCapture();
            times.push_back(msSince(clock));
            QFile::remove(dispatcher.lastFile());
            QCoreApplication::processEvents();
        }
        std::printf("%s_%s_capture_ms_median: %.2f\n", label.data(),
                    mode == CaptureMode::Control ? "control" : "fullscreen", bench::median(times));
    }

    const double cpu = cpuSeconds();
    const long wakes = wakeUps();
    QEventLoop loop;
    QTimer::singleShot(idle * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    std::printf("%s_idle_cpu_ms_wakeups_over_%ds: %.0f %ld\n", label.data(), idle,
                (cpuSeconds() - cpu) * 1000, wakeUps() - wakes);
    return 0;
}
