#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;
struct wl_display;

namespace morvane {

class FdDeadline;

// A connection of the program's own to the Wayland compositor, beside whatever Qt uses. What
// the compositor sends is read when the connection's descriptor is readable, from Qt's event
// loop, and handed to the listeners of the connection's objects; what the program asks is sent
// at once, and the rest once the socket takes more. Nothing polls.
class WaylandConnection final : public QObject {
    Q_OBJECT

public:
    // The compositor WAYLAND_DISPLAY names; nothing when none accepts the connection.
    static std::unique_ptr<WaylandConnection> open();
    // Disconnects; the objects made on the connection must be destroyed before.
    ~WaylandConnection() override;
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    wl_display* display() const { return display_; }
    bool failed() const { return failed_; }

    // Sends what the program asked; false once the connection has failed.
    bool flush();
    // Handles everything the compositor sent before it answers a sync request sent now: a
    // nested wait on the connection's descriptor within the deadline (see FdDeadline), in
    // which only the listeners of this connection run. False when the deadline came first or
    // the connection failed.
    bool sync(const FdDeadline& deadline);
    // Handles what the compositor sends, in the same kind of nested wait, until done() is
    // true (checked after each batch of events) or the deadline comes: false then, or when
    // the connection failed.
    bool waitUntil(const std::function<bool()>& done, const FdDeadline& deadline);

signals:
    // The compositor closed the connection, or it failed otherwise; sent once.
    void lost();

private:
    explicit WaylandConnection(wl_display* display);
    void readEvents();
    void fail(const char* where);

    wl_display* display_;
    QSocketNotifier* readNotifier_;
    QSocketNotifier* writeNotifier_;
    bool failed_ = false;
};

} // namespace morvane
