// Measures a desktop program on the current X display:
//   - the time from starting it to the mapping of its window with the given title (the
//     median and the spread over several starts, each with fresh settings folders);
//   - once it idles: processor time used over a quiet period, and resident memory.
// Prints one "name: value" line per figure.
//
//   startup_probe PROGRAM TITLE [STARTS] [IDLE-SECONDS]
#include "BenchStats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string windowName(xcb_connection_t* c, xcb_window_t w) {
    const auto cookie =
        xcb_get_property(c, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (!reply) {
        return {};
    }
    const auto* bytes = static_cast<const char*>(xcb_get_property_value(reply));
    std::string name(bytes, static_cast<size_t>(xcb_get_property_value_length(reply)));
    std::free(reply);
    return name;
}

bool viewable(xcb_connection_t* c, xcb_window_t w) {
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
    const bool result = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return result;
}

// Starts the program and waits for its titled top-level window to be mapped; returns the
// milliseconds it took, with the process left running.
std::optional<double> startAndWaitForWindow(QProcess& process, const QString& program,
                                            const std::string& title) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "startup_probe: no X display\n");
        return std::nullopt;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, screen->root, XCB_CW_EVENT_MASK, &rootMask);
    xcb_flush(c);

    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    std::optional<double> shown;
    std::vector<xcb_window_t> candidates;
    while (!shown && clock.elapsed() < 30000) {
        xcb_generic_event_t* event = xcb_wait_for_event(c);
        if (!event) {
            break;
        }
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
            // Watch each new top-level for its own map; it may be reparented first.
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
            xcb_change_window_attributes(c, created->window, XCB_CW_EVENT_MASK, &mask);
            candidates.push_back(created->window);
            xcb_flush(c);
            if (viewable(c, created->window) && windowName(c, created->window) == title) {
                shown = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            }
        } else if (type == XCB_MAP_NOTIFY) {
            const auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (std::find(candidates.begin(), candidates.end(), mapped->window) !=
                    candidates.end() &&
                windowName(c, mapped->window) == title) {
                shown = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            }
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return shown;
}

long ticksUsed(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime + stime
}

void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void useFreshFolders(QProcess& process, const QTemporaryDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    process.setProcessEnvironment(env);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_probe PROGRAM TITLE [STARTS] [IDLE-SECONDS]\n");
        return 2;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const std::string title = argv[2];
    const int starts = argc > 3 ? std::atoi(argv[3]) : 10;
    const int idleSeconds = argc > 4 ? std::atoi(argv[4]) : 30;

    std::vector<double> times;
    for (int i = 0; i < starts; ++i) {
        QTemporaryDir dir;
        QProcess process;
        useFreshFolders(process, dir);
        const auto ms = startAndWaitForWindow(process, program, title);
        stop(process);
        if (!ms) {
            std::fprintf(stderr, "startup_probe: %s showed no window titled %s\n", argv[1],
                         argv[2]);
            return 1;
        }
        times.push_back(*ms);
    }
    std::sort(times.begin(), times.end());
    const double median = bench::median(times);
    std::printf("start_to_window_ms_median: %.1f\n", median);
    std::printf("start_to_window_ms_min_max: %.1f %.1f\n", times.front(), times.back());

    if (idleSeconds > 0) {
        QTemporaryDir dir;
        QProcess process;
        useFreshFolders(process, dir);
        if (!startAndWaitForWindow(process, program, title)) {
            return 1;
        }
        QThread::sleep(2); // let start-up work finish
        const long before = ticksUsed(process.processId());
        QThread::sleep(static_cast<unsigned long>(idleSeconds));
        const long after = ticksUsed(process.processId());
        const double msPerTick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
        std::printf("idle_cpu_ms_over_%ds: %.0f\n", idleSeconds,
                    static_cast<double>(after - before) * msPerTick);
        std::printf("idle_rss_kib: %ld\n",
                    bench::residentKiB(QString::number(process.processId())));
        stop(process);
    }
    return 0;
}
