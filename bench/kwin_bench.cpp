// Figures in a KWin Wayland session (run inside tests/desktop/with-kwin, which names the
// fake-input tool in MORVANE_KWIN_INPUT), one "name: value" line each:
//
//   kwin_bench hotkey PROGRAM [PRESSES] [IDLE]
//     Starts the program with a save folder of its own; it finds KWin by itself and registers
//     its hotkey with KDE's shortcut service. Then its processor time (utime + stime) and
//     context switches (voluntary + involuntary, all threads; threads that end in between
//     counted apart) over IDLE quiet seconds; then Ctrl+S pressed PRESSES times, each until the
//     full-screen BMP is complete in the folder (polled every 0.2 ms, as hotkey_bench does on
//     X11). A press is a run of the input tool, so each time includes the tool's own start, its
//     connection to KWin and its round trips; `kwin_input keys shift` alone is measured beside.
//
//   kwin_bench capture RUNS CONTROL_RUNS
//     In this process, the program's Dispatcher over the program's KWin desktop: a
//     full-screen capture (median of RUNS), split into KWin's snapshot of the pointer and
//     windows, KWin's screenshot, the clipboard and the file; a window capture over a Qt
//     window of one colour (median of RUNS) with its screenshot alone; a control capture
//     over the Qt test button on the accessibility bus (median of CONTROL_RUNS) with the
//     bus look-up alone.
#include "SessionBench.h"
#include "capture/CaptureFile.h"
#include "capture/Dispatcher.h"
#include "common/Prompts.h"
#include "platform/DesktopSession.h"
#include "platform/KWinDesktop.h"

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

QString inputTool() {
    return qEnvironmentVariable("MORVANE_KWIN_INPUT");
}

bool input(const QStringList& commands) {
    QProcess tool;
    tool.start(inputTool(), commands);
    return tool.waitForFinished(10000) && tool.exitCode() == 0;
}

void movePointer(QPoint to) {
    input({QStringLiteral("move"), QString::number(to.x()), QString::number(to.y())});
}

int hotkey(const QString& program, int presses, int idle) {
    const off_t expected = bench::fullScreenBmpSize();
    bench::BenchProgram morvane;
    if (!morvane.start(program, "registered", 10000)) {
        std::fprintf(stderr, "kwin_bench: the program did not take its hotkey in 10 s\n");
        return 1;
    }
    QThread::sleep(1); // the start's last work done

    const qint64 pid = morvane.process.processId();
    bench::printIdle("kwin", pid, idle);

    const QByteArray folder = QFile::encodeName(morvane.shots);
    std::set<std::string> known;
    const bench::Usage before = bench::usageOf(pid);
    const std::vector<double> times =
        bench::toFile(inputTool(), {QStringLiteral("keys"), QStringLiteral("ctrl+s")}, presses,
                      folder, expected, known);
    if (times.empty()) {
        return 1;
    }
    const bench::Usage after = bench::usageOf(pid);
    std::vector<double> alone;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer clock;
        clock.start();
        input({QStringLiteral("keys"), QStringLiteral("shift")});
        alone.push_back(bench::msSince(clock));
    }
    bench::printPresses("kwin", times, before, after);
    std::printf("kwin_input_keys_alone_ms_median: %.2f\n", bench::median(alone));
    return 0;
}

// The snapshot's id of the window with the caption; 0 when KWin does not show it in 10 s.
WindowId windowTitled(Desktop& desktop, const QByteArray& caption) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        desktop.pointerPosition();
        for (WindowId id = 1; !desktop.windowRect(id).isEmpty(); ++id) {
            if (desktop.windowText(id) == caption) {
                return id;
            }
        }
        QCoreApplication::processEvents();
        QThread::msleep(50);
    }
    return 0;
}

int capture(int runs, int controlRuns) {
    AccessibilitySwitch accessibilityOn; // Qt applications answer only while it is on
    QTemporaryDir dir;
    DesktopServices services = makeDesktopServices(SessionKind::KWin);
    Desktop& desktop = *services.desktop;
    AtspiLookup lookup{desktop};
    bench::Host host;
    host.folder = dir.path();
    bench::SilentPrompts prompts;
    Dispatcher dispatcher(host, desktop, prompts, *services.clipboard);
    dispatcher.setAccessibleLookup(&lookup);
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
    const double snapshot = bench::medianMs(runs, [&] { desktop.pointerPosition(); });
    QImage picture;
    const QRect primary = desktop.primaryScreenRect();
    const double shot = bench::medianMs(runs, [&] { picture = desktop.grabScreen(primary); });
    const double clipboard = bench::medianMs(runs, [&] { services.clipboard->setImage(picture); });
    const double file = bench::medianMs(runs, [&] {
        const CaptureFileResult result = writeCaptureFile(dir.path(), QStringLiteral("F"), picture);
        wrote = wrote && result.written();
        QFile::remove(result.path);
    });
    std::printf("kwin_fullscreen_capture_ms_median: %.2f\n", full);
    std::printf("kwin_fullscreen_split_ms_snapshot_screenshot_clipboard_file: %.2f %.2f %.2f "
                "%.2f\n",
                snapshot, shot, clipboard, file);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Bench Window"));
    window.setFixedSize(400, 300);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 255));
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.show();
    const WindowId id = windowTitled(desktop, "Bench Window");
    const QRect frame = desktop.windowRect(id);
    movePointer(frame.center());
    host.mode = CaptureMode::Window;
    captureOnce();
    const double windowCapture = bench::medianMs(runs, captureOnce);
    const WindowId again = windowTitled(desktop, "Bench Window"); // in a fresh snapshot
    const double windowShot = bench::medianMs(runs, [&] { desktop.grabWindow(again, frame); });
    std::printf("kwin_window_capture_ms_median_and_screenshot_alone: %.2f %.2f (%dx%d)\n",
                windowCapture, windowShot, frame.width(), frame.height());
    window.hide();

    QProcess button;
    button.start(QStringLiteral(MORVANE_QT_BUTTON),
                 {QStringLiteral("Bench Button"), QStringLiteral("0"), QStringLiteral("0")});
    // It prints the button's rectangle, then its group's, then "ready".
    QList<QRect> rects;
    bool ready = false;
    while (!ready && (button.canReadLine() || button.waitForReadyRead(15000))) {
        while (button.canReadLine()) {
            const QList<QByteArray> words = button.readLine().trimmed().split(' ');
            ready = ready || words.value(0) == "ready";
            if (words.size() == 4) {
                rects << QRect(words[0].toInt(), words[1].toInt(), words[2].toInt(),
                               words[3].toInt());
            }
        }
    }
    QRect control = rects.value(0);
    const WindowId buttonWindow = windowTitled(desktop, "Bench Button");
    control.translate(desktop.accessibleOrigin(buttonWindow).value_or(QPoint()));
    movePointer(control.center());
    QThread::msleep(800); // the button's hover animation ends
    host.mode = CaptureMode::Control;
    dispatcher.DoCapture();
    const QSize controlSize = QImage(dispatcher.lastFile(), "BMP").size();
    QFile::remove(dispatcher.lastFile());
    const double controlCapture = bench::medianMs(controlRuns, captureOnce);
    desktop.pointerPosition();
    const QPoint at = control.center();
    const WindowId under = desktop.windowAt(at);
    const QRect underRect = desktop.windowRect(under);
    const double look =
        bench::medianMs(controlRuns, [&] { lookup.elementAt(under, underRect, at); });
    std::printf("kwin_control_capture_ms_median_and_bus_lookup_alone: %.2f %.2f (%dx%d, "
                "button %dx%d)\n",
                controlCapture, look, controlSize.width(), controlSize.height(), control.width(),
                control.height());
    button.kill();
    button.waitForFinished(3000);
    if (!wrote || controlSize != control.size()) {
        std::fprintf(stderr, "kwin_bench: a capture wrote no file, or not the button\n");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const bool hotkeyArgs = args.value(0) == QStringLiteral("hotkey") && args.size() >= 2;
    const bool captureArgs = args.value(0) == QStringLiteral("capture") && args.size() >= 3;
    if (inputTool().isEmpty() || !(hotkeyArgs || captureArgs)) {
        std::fprintf(stderr, "usage (inside with-kwin): kwin_bench hotkey PROGRAM [PRESSES] "
                             "[IDLE] | kwin_bench capture RUNS CONTROL_RUNS\n");
        return 2;
    }
    if (hotkeyArgs) {
        return hotkey(args[1], args.value(2, QStringLiteral("50")).toInt(),
                      args.value(3, QStringLiteral("60")).toInt());
    }
    return capture(args[1].toInt(), args[2].toInt());
}
