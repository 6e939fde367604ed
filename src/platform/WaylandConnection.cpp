#include "WaylandConnection.h"

#include "WaylandPipes.h"
#include "common/Log.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <wayland-client.h>

namespace morvane {

namespace {

void syncDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}
const wl_callback_listener kSyncListener = {.done = syncDone};

} // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return nullptr;
    }
    return std::unique_ptr<WaylandConnection>(new WaylandConnection(display));
}

WaylandConnection::WaylandConnection(wl_display* display)
    : display_(display),
      readNotifier_(new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, this)),
      writeNotifier_(
          new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Write, this)) {
    writeNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this, &WaylandConnection::readEvents);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &WaylandConnection::flush);
}

WaylandConnection::~WaylandConnection() {
    if (!failed_) {
        wl_display_flush(display_);
    }
    wl_display_disconnect(display_);
}

void WaylandConnection::readEvents() {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            return fail("handling");
        }
    }
    // Reads what is there without waiting; the notifier says there is something.
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
        return fail("reading");
    }
    flush();
}

bool WaylandConnection::flush() {
    if (failed_) {
        return false;
    }
    if (wl_display_flush(display_) >= 0) {
        writeNotifier_->setEnabled(false);
        return true;
    }
    if (errno == EAGAIN) {
        writeNotifier_->setEnabled(true); // the rest goes once the socket takes it
        return true;
    }
    fail("sending");
    return false;
}

bool WaylandConnection::sync(const FdDeadline& deadline) {
    if (failed_) {
        return false;
    }
    bool done = false;
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    waitUntil([&done] { return done; }, deadline);
    // Destroyed unanswered, the callback's answer is dropped when it comes.
    wl_callback_destroy(callback);
    return done;
}

bool WaylandConnection::waitUntil(const std::function<bool()>& done, const FdDeadline& deadline) {
    const int fd = wl_display_get_fd(display_);
    while (!failed_) {
        if (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) {
                fail("handling");
            }
            continue;
        }
        if (done()) {
            wl_display_cancel_read(display_);
            return true;
        }
        if (!flush()) {
            wl_display_cancel_read(display_);
        } else if (!deadline.waitReadable(fd)) {
            wl_display_cancel_read(display_);
            qCWarning(lcMorvane) << "Wayland: the compositor did not answer in time";
            return false;
        } else if (wl_display_read_events(display_) < 0 ||
                   wl_display_dispatch_pending(display_) < 0) {
            fail("reading");
        }
    }
    return false;
}

void WaylandConnection::fail(const char* where) {
    if (failed_) {
        return;
    }
    failed_ = true;
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    qCWarning(lcMorvane) << "Wayland: the connection to the compositor failed while" << where << "("
                         << std::strerror(wl_display_get_error(display_)) << ")";
    emit lost();
}

} // namespace morvane
