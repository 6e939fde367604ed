// Capture figures on the current X display, one "name: value" line each:
//   - full-screen DoCapture, start to BMP complete and clipboard set (median, min, max of N);
//   - naming in a folder that already holds 10,000 captures of the same title;
//   - resident memory and open descriptors after 10 captures and after 1,000 (or CAPTURES);
//   - with CAPTURES given, the naming is left out.
//
//   capture_bench [RUNS] [CAPTURES]
#include "BenchStats.h"
#include "capture/Dispatcher.h"
#include "capture/FileNaming.h"
#include "common/Prompts.h"
#include "platform/X11Desktop.h"
#include "shell/Application.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace morvane;

namespace {

struct Host final : CaptureHost {
    QString folder;
    QImage held;
    QString saveFolder() const override { return folder; }
    CaptureMode captureMode() const override { return CaptureMode::FullScreen; }
    bool pointerOverlay() const override { return true; }
    void holdPicture(const QImage& picture) override { held = picture; }
    void disarmDelayedCapture() override {}
};

struct SilentPrompts final : Prompts {
    void message(const QString&, MessageScope) override {}
    QString input(const QString&, const QString&, const QString&) override { return {}; }
};

qsizetype openDescriptors() {
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
        .size();
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    configureApplication(); // the program's own names, style, font and translations
    const int runs = argc > 1 ? std::atoi(argv[1]) : 50;
    const int captures = argc > 2 ? std::atoi(argv[2]) : 1000;
    QTemporaryDir dir;
    X11Desktop desktop;
    Host host;
    host.folder = dir.path();
    SilentPrompts prompts;
    QtClipboard clipboard;
    Dispatcher dispatcher(host, desktop, prompts, clipboard);

    auto captureOnce = [&]() {
        QElapsedTimer clock;
        clock.start();
        dispatcher.DoCapture();
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        if (dispatcher.lastFile().isEmpty()) {
            std::fprintf(stderr, "capture_bench: the capture wrote no file\n");
            std::exit(1);
        }
        QFile::remove(dispatcher.lastFile());
        QCoreApplication::processEvents();
        return ms;
    };

    // Ten captures first: the first sets up the shared-memory segment and the file buffer.
    for (int i = 0; i < 10; ++i) {
        captureOnce();
    }
    const long rss10 = bench::residentKiB();
    const qsizetype fds10 = openDescriptors();

    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        times.push_back(captureOnce());
    }
    std::printf("fullscreen_capture_ms_median: %.2f\n", bench::median(times));
    std::printf("fullscreen_capture_ms_min_max: %.2f %.2f\n",
                *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));

    for (int i = 10 + runs; i < captures; ++i) {
        captureOnce();
    }
    std::printf("rss_kib_after_10_and_%d_captures: %ld %ld\n", captures, rss10,
                bench::residentKiB());
    std::printf("open_fds_after_10_and_%d_captures: %lld %lld\n", captures,
                static_cast<long long>(fds10), static_cast<long long>(openDescriptors()));
    if (argc > 2) {
        return 0;
    }
    {
        QTemporaryDir crowded;
        for (int n = 1; n <= 10000; ++n) {
            QFile(crowded.filePath(QStringLiteral("Xtemp%1.bmp").arg(n)))
                .open(QIODevice::WriteOnly);
        }
        std::vector<double> naming;
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer clock;
            clock.start();
            FolderNames names(crowded.path(), QStringLiteral("X"));
            const auto name = names.firstFree();
            naming.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
            if (name != QStringLiteral("Xtemp10001.bmp")) {
                std::fprintf(stderr, "capture_bench: wrong name in the crowded folder\n");
                return 1;
            }
        }
        std::printf("naming_ms_with_10000_captures: %.2f\n", bench::median(naming));
    }

    return 0;
}
