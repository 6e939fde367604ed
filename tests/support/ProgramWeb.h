#pragma once

#include "support/DesktopTools.h"
#include "support/TestWindows.h"

#include <QFile>
#include <QPoint>
#include <QString>
#include <QTest>
#include <optional>
#include <utility>

// The real program's web mode on the screen, driven as a user drives it.
namespace morvane::test {

// On the screen, from the window's top-left corner: 全屏抓图 (Opt_All) in the main window, and
// 滚动抓图 (the toolbar's seventh button) in the browser window.
inline constexpr int kFullScreenX = 384 + 10;
inline constexpr int kFullScreenY = 80 + 12;
inline constexpr QPoint kCaptureButton(217, 18); // from the window's inside, below its title bar

// The top-left corner of a window's inside on the screen.
inline QPoint insideOrigin(const QString& window) {
    const QString info = runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    const auto value = [&info](const char* name) {
        const qsizetype at = info.indexOf(QLatin1String(name));
        const auto length = static_cast<qsizetype>(qstrlen(name));
        return at < 0 ? 0 : info.mid(at + length).section('\n', 0, 0).trimmed().toInt();
    };
    return {value("Absolute upper-left X:"), value("Absolute upper-left Y:")};
}

// The program's browser window runs in a process the program starts.
inline qint64 browserProcess(qint64 program) {
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(program));
    if (!children.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return children.readAll().trimmed().split(' ').value(0).toLongLong();
}

// The program's browser window showing the page titled "Page", and the window's process.
inline std::optional<std::pair<QString, qint64>> pageWindow(qint64 program) {
    std::optional<std::pair<QString, qint64>> found;
    (void)QTest::qWaitFor(
        [&] {
            const qint64 pid = browserProcess(program);
            const std::optional<QString> window =
                pid ? waitForWindow(pid, QStringLiteral("^Page$"), 0) : std::nullopt;
            if (window) {
                found = std::make_pair(*window, pid);
            }
            return found.has_value();
        },
        30000);
    return found;
}

// Web mode (网页抓图, Opt_Web at (32, 112) in the main window), then the hotkey over a window
// whose title is the address.
inline void requestPage(const QString& mainWindow, const QString& address) {
    clickAt(windowGeometry(mainWindow).topLeft() + QPoint(32 + 10, 112 + 12));
    TestWindows windows;
    const auto bar = windows.create(
        {.rect = QRect(0, 0, 600, 40), .title = address.toUtf8(), .overrideRedirect = true});
    windows.warpPointer(QPoint(10, 10));
    runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+s")});
    QTest::qWait(100);
    windows.destroy(bar);
}

// The box a process shows titled "Morvane", once it shows, within the time.
inline std::optional<QString> boxOf(qint64 pid, int timeoutMs) {
    std::optional<QString> box;
    (void)QTest::qWaitFor(
        [&] {
            box = waitForWindow(pid, QStringLiteral("^Morvane$"), 0);
            return box.has_value();
        },
        timeoutMs);
    return box;
}

// Answers a box's OK button from the keyboard.
inline void closeBox(const QString& box) {
    runTool(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                        box, QStringLiteral("key"), QStringLiteral("Return")});
}

// Whether the process has gone within the time.
inline bool processEnds(qint64 pid, int timeoutMs) {
    return QTest::qWaitFor([pid] { return !QFile::exists(QStringLiteral("/proc/%1").arg(pid)); },
                           timeoutMs);
}

} // namespace morvane::test
