// Key press to file: starts the program and times its hotkey, each press until the
// capture file is complete on disk (median of N), two ways:
//   - sent by XTEST from this process, the save folder polled every 0.2 ms until the file
//     has the size of the full-screen BMP: what the program itself takes;
//   - sent by xdotool, the file noticed when it is closed: mostly xdotool's own start,
//     which is measured alone beside it.
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
#include <set>
#include <string>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

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

void clearFolder(const QString& folder) {
    for (const QString& name : QDir(folder).entryList(QDir::Files)) {
        QFile::remove(folder + QLatin1Char('/') + name);
    }
}

// Nanoseconds a thread has run on a processor and has waited, runnable, for one.
struct Scheduled {
    double runNs = 0;
    double waitNs = 0;
};

Scheduled scheduled(qint64 pid) {
    QFile stats(QStringLiteral("/proc/%1/task/%1/schedstat").arg(pid));
    Scheduled s;
    if (stats.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = stats.readAll().split(' ');
        s.runNs = fields.value(0).toDouble();
        s.waitNs = fields.value(1).toDouble();
    }
    return s;
}

// Presses Ctrl+S with XTEST `presses` times, 100 ms apart; each time, the milliseconds
// until a new full-screen BMP is complete in the folder. The files stay, as a user's
// would. Empty when a press leads to no file within 5 s.
std::vector<double> xtestPresses(const QString& shots, int presses) {
    std::vector<double> times;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return times;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const auto rowBytes = (static_cast<off_t>(screen->width_in_pixels) * 3 + 3) & ~off_t{3};
    const off_t expected = 54 + rowBytes * screen->height_in_pixels;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    xcb_keycode_t* control = xcb_key_symbols_get_keycode(symbols, 0xffe3); // Control_L
    xcb_keycode_t* s = xcb_key_symbols_get_keycode(symbols, 0x73);         // s
    const QByteArray folder = QFile::encodeName(shots);
    const auto key = [c](std::uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(c, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    std::set<std::string> known;
    const timespec step{0, 200'000};
    for (int i = 0; control && s && i < presses; ++i) {
        QElapsedTimer clock;
        clock.start();
        key(XCB_KEY_PRESS, *control);
        key(XCB_KEY_PRESS, *s);
        key(XCB_KEY_RELEASE, *s);
        key(XCB_KEY_RELEASE, *control);
        xcb_flush(c);
        std::string name;
        while ((name = bench::newFileOfSize(folder, expected, known)).empty() &&
               clock.elapsed() < 5000) {
            nanosleep(&step, nullptr);
        }
        if (name.empty()) {
            times.clear();
            break;
        }
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        known.insert(name);
        QThread::msleep(100); // the program idle again
    }
    std::free(control);
    std::free(s);
    xcb_key_symbols_free(symbols);
    xcb_disconnect(c);
    return times;
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

    // The program's main thread, which handles the press and writes the file: its processor
    // time per press, and how long it waited for a processor that others held.
    const Scheduled before = scheduled(program.processId());
    const std::vector<double> xtest = xtestPresses(shots, presses);
    const Scheduled after = scheduled(program.processId());
    if (xtest.empty()) {
        std::fprintf(stderr, "hotkey_bench: no complete capture file after an XTEST press\n");
        return 1;
    }

    clearFolder(shots);
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
        clearFolder(shots);
        clock.restart();
        run({QStringLiteral("key"), QStringLiteral("shift")});
        xdotoolAlone.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        QThread::msleep(20);
    }
    std::printf("hotkey_xtest_press_to_file_ms_median: %.2f\n", bench::median(xtest));
    std::printf("hotkey_xtest_press_to_file_ms_min: %.2f\n",
                *std::min_element(xtest.begin(), xtest.end()));
    std::printf("hotkey_xtest_program_cpu_ms_per_press: %.2f\n",
                (after.runNs - before.runNs) / 1e6 / static_cast<double>(xtest.size()));
    std::printf("hotkey_xtest_program_waiting_for_cpu_ms_per_press: %.2f\n",
                (after.waitNs - before.waitNs) / 1e6 / static_cast<double>(xtest.size()));
    std::printf("hotkey_press_to_file_ms_median: %.2f\n", bench::median(toFile));
    std::printf("xdotool_key_alone_ms_median: %.2f\n", bench::median(xdotoolAlone));
    program.terminate();
    program.waitForFinished(5000);
    close(inotify);
    return 0;
}
