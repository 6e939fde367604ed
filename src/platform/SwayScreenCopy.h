#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <memory>

struct wl_output;
struct wl_registry;
struct wl_shm;
struct zwlr_screencopy_manager_v1;

namespace morvane {

class WaylandConnection;

// The pixels of a wlroots compositor's outputs (sway's), through the screencopy protocol
// (zwlr_screencopy_manager_v1, versions 1 to 3) on a connection of the program's own, into
// shared-memory buffers. The pointer is left out: the program draws its own.
//
// Lifetime rule of the wait: capture() blocks the calling thread until the compositor has
// copied the frame, or failed, or a deadline of two seconds passed. It waits on its own
// connection's descriptor alone and runs no event loop, so only this connection's listeners
// run inside it and nothing of the program can reach it twice. Between captures the
// connection's events (outputs that come and go) are handled from Qt's event loop.
class SwayScreenCopy {
public:
    // Nothing when no compositor accepts the connection or it lacks screencopy or shared
    // memory; *whyNot then says which.
    static std::unique_ptr<SwayScreenCopy> open(QString* whyNot = nullptr);
    ~SwayScreenCopy();
    SwayScreenCopy(const SwayScreenCopy&) = delete;
    SwayScreenCopy& operator=(const SwayScreenCopy&) = delete;

    // The region of the output of that name, in the output's own logical pixels, as
    // QImage::Format_RGB32 of the region's size. A null image, and failure() saying why, when
    // there is no such output or the compositor gives nothing.
    QImage capture(const QString& outputName, const QRect& region);

    const QString& failure() const { return failure_; }

    struct Output {
        wl_output* output = nullptr;
        std::uint32_t global = 0;
        QString name;
    };

private:
    explicit SwayScreenCopy(std::unique_ptr<WaylandConnection> connection);
    bool bind(QString* whyNot);

    friend struct ScreenCopyListeners;

    // Destroyed last: every object below lives on it.
    std::unique_ptr<WaylandConnection> connection_;
    wl_registry* registry_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_screencopy_manager_v1* manager_ = nullptr;
    QList<Output> outputs_;
    QString failure_;
};

} // namespace morvane
