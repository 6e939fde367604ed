#pragma once

// An owned libdbus message, and the milliseconds left of a deadline for libdbus's waits.
#include <dbus/dbus.h>

#include <algorithm>
#include <chrono>
#include <memory>

namespace morvane {

struct MessageUnref {
    void operator()(DBusMessage* message) const {
        if (message) {
            dbus_message_unref(message);
        }
    }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// What is left until the deadline, never less than 0.
inline int msLeft(std::chrono::steady_clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    return std::max(0, int(left.count()));
}

} // namespace morvane
