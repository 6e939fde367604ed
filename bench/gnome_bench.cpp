// Figures in a GNOME session (run inside tests/desktop/with-gnome --screenshot yes, which names
// its key tool in MORVANE_GNOME_INPUT), one "name: value" line each:
//
//   gnome_bench hotkey PROGRAM [PRESSES] [IDLE]
//     Starts the program with a save folder of its own; it finds GNOME by itself and writes
//     its hotkey as a custom keybinding of the settings daemon. Once it says so, its processor
//     time and context switches over IDLE quiet seconds. Then Ctrl+S typed through mutter's
//     remote desktop PRESSES times, each until the full-screen BMP is complete in the folder:
//     a press is a run of the key tool, the settings daemon's run of `PROGRAM --capture`, that
//     command's call to the program over the session bus, and the capture through the portal.
//     The key tool alone, typing keys nothing binds, is measured beside, and `PROGRAM
//     --capture` run directly to the complete file.
//
//   gnome_bench capture RUNS
//     In this process, the program's Dispatcher over the program's GNOME desktop: a
//     full-screen capture (median of RUNS) and the portal's screenshot alone.
#include "SessionBench.h"
#include "platform/DesktopSession.h"

#include <QApplication>
#include <algorithm>

using namespace morvane;

namespace {

QString keyTool() {
    return qEnvironmentVariable("MORVANE_GNOME_INPUT");
}

int hotkey(const QString& program, int presses, int idle) {
    const off_t expected = bench::fullScreenBmpSize();
    bench::BenchProgram morvane;
    if (!morvane.start(program, "bound in GNOME's settings", 15000, true)) {
        std::fprintf(stderr, "gnome_bench: the program wrote no keybinding in 15 s\n");
        return 1;
    }
    QThread::sleep(2); // the settings daemon has taken the new binding

    const qint64 pid = morvane.process.processId();
    bench::printIdle("gnome", pid, idle);

    const QByteArray folder = QFile::encodeName(morvane.shots);
    std::set<std::string> known;
    const bench::Usage before = bench::usageOf(pid);
    const std::vector<double> times =
        bench::toFile(keyTool(), {QStringLiteral("keys"), QStringLiteral("ctrl+s")}, presses,
                      folder, expected, known);
    const bench::Usage after = bench::usageOf(pid);
    const std::vector<double> direct = times.empty()
                                           ? times
                                           : bench::toFile(program, {QStringLiteral("--capture")},
                                                           presses, folder, expected, known);
    if (direct.empty()) {
        return 1;
    }
    std::vector<double> alone;
    for (int i = 0; i < presses; ++i) {
        QElapsedTimer clock;
        clock.start();
        QProcess::execute(keyTool(), {QStringLiteral("keys"), QStringLiteral("ctrl+d")});
        alone.push_back(bench::msSince(clock));
    }
    bench::printPresses("gnome", times, before, after);
    std::printf("gnome_key_tool_alone_ms_median: %.2f\n", bench::median(alone));
    std::printf("gnome_morvane_capture_to_file_ms_median_min: %.2f %.2f\n", bench::median(direct),
                *std::min_element(direct.begin(), direct.end()));
    return 0;
}

int capture(int runs) {
    QTemporaryDir dir;
    DesktopServices services = makeDesktopServices(SessionKind::Gnome);
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
    for (int i = 0; i < 3; ++i) { // the first starts the portal's services
        captureOnce();
    }
    const double full = bench::medianMs(runs, captureOnce);
    const QRect primary = desktop.primaryScreenRect();
    const double shot = bench::medianMs(runs, [&] { desktop.grabScreen(primary); });
    std::printf("gnome_fullscreen_capture_ms_median_and_portal_alone: %.2f %.2f\n", full, shot);
    if (!wrote) {
        std::fprintf(stderr, "gnome_bench: a capture wrote no file: %s\n",
                     qPrintable(desktop.grabFailure()));
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
    if (keyTool().isEmpty() || !(hotkeyArgs || captureArgs)) {
        std::fprintf(stderr, "usage (inside with-gnome): gnome_bench hotkey PROGRAM [PRESSES] "
                             "[IDLE] | gnome_bench capture RUNS\n");
        return 2;
    }
    if (hotkeyArgs) {
        return hotkey(args[1], args.value(2, QStringLiteral("50")).toInt(),
                      args.value(3, QStringLiteral("60")).toInt());
    }
    return capture(args[1].toInt());
}
