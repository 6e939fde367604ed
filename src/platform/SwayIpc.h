#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace morvane {

// One window of sway's tree (a view), in sway's logical pixels.
struct SwayWindow {
    std::int64_t id = 0; // sway's container id
    QString name;        // the title
    QByteArray appClass; // the Wayland app_id, or an X client's WM_CLASS class
    std::uint32_t pid = 0;
    QRect frame;    // the container with its border and title bar
    QPoint surface; // where the application's own surface starts
    bool focused = false;
    bool floating = false;
    std::int64_t owner = 0; // the container id of the window it is transient for; 0 for none
};

// One output of the tree: its name, as wl_output and sway name it, and its place.
struct SwayOutput {
    QString name;
    QRect rect;
};

// The windows on the workspaces the outputs show, topmost first: a fullscreen one, then the
// floating ones (the last raised first), then the tiled ones; and the outputs.
struct SwaySnapshot {
    QList<SwayWindow> windows;
    QList<SwayOutput> outputs;
};

// Reads GET_TREE's answer. Nothing when it is not a tree of sway's; a node that lacks a part
// is left out, and texts and counts are bounded.
std::optional<SwaySnapshot> parseSwayTree(const QByteArray& json);

// Reads RUN_COMMAND's answer: empty when every command succeeded, else the first error sway
// gave (or a note that the answer was unreadable).
QString swayCommandError(const QByteArray& json);

// The i3-compatible IPC of sway on the socket $SWAYSOCK names. Each question opens the
// socket, sends one message ("i3-ipc", length, type, payload) and reads one answer.
//
// Lifetime rule of the wait: every call blocks the calling thread on its own socket until the
// answer comes or the deadline passes (about a second); it runs no event loop, so nothing else
// of the program runs inside it and nothing can reach it twice.
class SwayIpc {
public:
    enum Type : std::uint32_t { RunCommand = 0, GetTree = 4, GetVersion = 7, GetConfig = 9 };

    explicit SwayIpc(QByteArray socketPath);

    // $SWAYSOCK; empty when unset.
    static QByteArray socketFromEnvironment();

    // The answer's payload, or nothing (and failure() says why).
    std::optional<QByteArray> ask(Type type, const QByteArray& payload,
                                  std::chrono::milliseconds deadline);

    std::optional<SwaySnapshot> snapshot();
    // Runs the commands; false with failure() set when sway refused one or did not answer.
    bool run(const QByteArray& commands);
    // The text of the configuration sway loaded.
    std::optional<QByteArray> config();

    const QString& failure() const { return failure_; }

private:
    QByteArray socketPath_;
    QString failure_;
};

} // namespace morvane
