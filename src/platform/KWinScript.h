#pragma once

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

struct DBusConnection;

namespace morvane {

// One window as KWin's script reports it, in KWin's logical pixels.
struct KWinWindow {
    QString id; // KWin's internal id, what its screenshot interface takes
    QString caption;
    QByteArray resourceClass;
    std::uint32_t pid = 0;
    QRect frame;          // the window as the user sees it, server-side decoration included
    QRect buffer;         // the application's own surface: where its own coordinates start
    QString transientFor; // the owner's id; empty for a window of its own
};

// The pointer and the windows of the current desktop, topmost first.
struct KWinSnapshot {
    int run = -1; // which question of this process it answers
    QPoint pointer;
    QList<KWinWindow> windows;
};

// Reads the script's answer. Nothing when it is not the JSON the script writes; a window
// entry that lacks a part is left out, and texts are bounded.
std::optional<KWinSnapshot> parseKWinSnapshot(const QByteArray& json);

// Runs a small script inside KWin that answers with a snapshot of the pointer and the
// windows. KWin runs a script once per load, so each question loads, runs and unloads it
// (about 3 ms). The answer comes as a D-Bus call to this object's own private connection
// to the session bus.
//
// Lifetime rule of the wait: snapshot() blocks the calling thread until the answer comes or
// the deadline passes. It reads only its own connection and runs no event loop, so nothing
// else of the program runs inside it and nothing can reach it twice.
class KWinScript {
public:
    ~KWinScript();
    KWinScript(const KWinScript&) = delete;
    KWinScript& operator=(const KWinScript&) = delete;

    // Nothing without a session bus.
    static std::unique_ptr<KWinScript> open();

    // Why the last snapshot() gave nothing: KWin without its scripting interface, or no
    // answer in time.
    const QString& failure() const { return failure_; }

    std::optional<KWinSnapshot> snapshot(std::chrono::milliseconds deadline);

private:
    explicit KWinScript(DBusConnection* connection);
    QString writeScript(int run);
    std::optional<KWinSnapshot> awaitAnswer(int run, std::chrono::steady_clock::time_point until);

    DBusConnection* connection_;
    QString scriptPath_;
    QString failure_;
    int runs_ = 0;
};

} // namespace morvane
