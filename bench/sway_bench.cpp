// Figures in a sway session (run inside tests/desktop/with-sway), one "name: value" line each:
//
//   sway_bench hotkey PROGRAM [PRESSES] [IDLE]
//     Starts the program with a save folder of its own; it finds sway by itself and binds its
//     hotkey as a sway binding that runs `PROGRAM --capture`. Once it says the binding is made,
//     its processor time (utime + stime) and context switches (voluntary + involuntary, all
//     threads; threads that end in between counted apart) over IDLE quiet seconds. Then Ctrl+S
//     typed by wtype PRESSES times, each until the full-screen BMP is complete in the folder
//     (polled every 0.2 ms, as hotkey_bench does on X11): a press is a run of wtype, sway's
//     run of the binding's command, that command's start and its call to the program over
//     the session bus, and the capture. wtype alone, typing a combination nothing binds, is
//     measured beside, and `PROGRAM --capture` run directly to the complete file.
//
//   sway_bench capture RUNS
//     In this process, the program's Dispatcher over the program's sway desktop: a full-screen
//     capture (median of RUNS) with sway's screencopy alone, and a window capture over a
//     floating Qt window of one colour, focused as the pointer would focus it (median of RUNS),
//     with its screencopy alone.
#include "SessionBench.h"
#include "platform/DesktopSession.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <time.h>
#include <vector>

using namespace morvane;

namespace {

bool swaymsg(const QString& command) {
    QProcess process;
    process.start(QStringLiteral("swaymsg"), {command});
    return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

int hotkey(const QString& program, int presses, int idle) {
    const off_t expected = bench::fullScreenBmpSize();
    bench::BenchProgram morvane;
    if (!morvane.start(program, "bound in sway", 10000)) {
        std::fprintf(stderr, "sway_bench: the program made no binding in 10 s\n");
        return 1;
    }
    QThread::sleep(1); // the start's last work done

    const qint64 pid = morvane.process.processId();
    bench::printIdle("sway", pid, idle);

    const QByteArray folder = QFile::encodeName(morvane.shots);
    std::set<std::string> known;
    const QString wtype = QStringLiteral("wtype");
    const bench::Usage before = bench::usageOf(pid);
    const std::vector<double> times = bench::toFile(
        wtype, {"-M", "ctrl", "-s", "30", "s", "-m", "ctrl"}, presses, folder, expected, known);
    const bench::Usage after = bench::usageOf(pid);
    const std::vector<double> direct =
        times.empty() ? times
                      : bench::toFile(program, {"--capture"}, presses, folder, expected, known);
    if (direct.empty()) {
        return 1;
    }
    std::vector<double> alone;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer clock;
        clock.start();
        QProcess::execute(wtype, {"-M", "ctrl", "-s", "30", "d", "-m", "ctrl"}); // bound to nothing
        alone.push_back(bench::msSince(clock));
    }
    bench::printPresses("sway", times, before, after);
    std::printf("sway_wtype_alone_ms_median: %.2f\n", bench::median(alone));
    std::printf("sway_morvane_capture_to_file_ms_median_min: %.2f %.2f\n", bench::median(direct),
                *std::min_element(direct.begin(), direct.end()));
    return 0;
}

// Focuses the window with the caption once sway shows it; its id in the desktop's fresh
// snapshot, 0 when sway does not show it in 10 s.
WindowId focusWindow(Desktop& desktop, const QByteArray& caption) {
    const QString command =
        QStringLiteral("[title=\"^%1$\"] focus").arg(QString::fromUtf8(caption));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        if (swaymsg(command)) {
            const WindowId window = desktop.windowAt(desktop.pointerPosition());
            if (desktop.windowText(window) == caption) {
                return window;
            }
        }
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return 0;
}

int capture(int runs) {
    QTemporaryDir dir;
    DesktopServices services = makeDesktopServices(SessionKind::Sway);
    Desktop& desktop = *services.desktop;
    bench::Host host;
    host.folder = dir.path();
    bench::SilentPrompts prompts;
    Dispatcher dispatcher(host, desktop, prompts, *services.clipboard);
    bool wrote = true;
    const auto captureOnce = [&] {
        dispatcher.DoCapture();
        wrote = wrote && !dispatcher.lastFile().isEmpty();
        QFile::remove(dispatcher.lastFile());
    };

    for (int i = 0; i < 5; ++i) { // the first sets up the connections and buffers
        captureOnce();
    }
    const double full = bench::medianMs(runs, captureOnce);
    const QRect primary = desktop.primaryScreenRect();
    const double shot = bench::medianMs(runs, [&] { desktop.grabScreen(primary); });
    std::printf("sway_fullscreen_capture_ms_median_and_screencopy_alone: %.2f %.2f\n", full, shot);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Bench Window"));
    window.setFixedSize(400, 300);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 255));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.show();
    swaymsg(QStringLiteral("[title=\"^Bench Window$\"] floating enable"));
    const WindowId id = focusWindow(desktop, "Bench Window");
    const QRect frame = desktop.windowRect(id);
    QThread::msleep(300); // its first frames drawn
    host.mode = CaptureMode::Window;
    captureOnce();
    const double windowCapture = bench::medianMs(runs, captureOnce);
    const WindowId again = focusWindow(desktop, "Bench Window"); // in a fresh snapshot
    const double windowShot = bench::medianMs(runs, [&] { desktop.grabWindow(again, frame); });
    std::printf("sway_window_capture_ms_median_and_screencopy_alone: %.2f %.2f (%dx%d)\n",
                windowCapture, windowShot, frame.width(), frame.height());
    if (!wrote || id == 0) {
        std::fprintf(stderr, "sway_bench: a capture wrote no file, or the window was not found\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const bool hotkeyArgs = args.value(0) == QStringLiteral("hotkey") && args.size() >= 2;
    const bool captureArgs = args.value(0) == QStringLiteral("capture") && args.size() >= 2;
    if (qEnvironmentVariableIsEmpty("SWAYSOCK") || !(hotkeyArgs || captureArgs)) {
        std::fprintf(stderr, "usage (inside with-sway): sway_bench hotkey PROGRAM [PRESSES] "
                             "[IDLE] | sway_bench capture RUNS\n");
        return 2;
    }
    if (hotkeyArgs) {
        return hotkey(args[1], args.value(2, QStringLiteral("50")).toInt(),
                      args.value(3, QStringLiteral("60")).toInt());
    }
    return capture(args[1].toInt());
}
