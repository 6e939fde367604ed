// One remote-desktop session of mutter, on the D-Bus session bus, for the input tool.
#pragma once

#include <dbus/dbus.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace gnome_input {

constexpr const char* kService = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kSessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr int kLeftButton = 0x110; // BTN_LEFT
constexpr int kTimeoutMs = 5000;
// libdbus's type codes (its own macros carry C casts).
constexpr int kEnd = 0;
constexpr int kPathType = 'o';
constexpr int kUint32 = 'u';
constexpr int kInt32 = 'i';
constexpr int kBoolean = 'b';
constexpr int kDouble = 'd';

// The X keysym of a key name, 0 when the name is unknown.
inline uint32_t keysym(std::string_view name) {
    if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') {
        return static_cast<uint32_t>(name[0]); // latin letters are their own keysyms
    }
    if (name.size() == 1 && name[0] >= '0' && name[0] <= '9') {
        return static_cast<uint32_t>(name[0]);
    }
    for (uint32_t number = 1; number <= 12; ++number) {
        if (name == "f" + std::to_string(number)) {
            return 0xffbe + number - 1;
        }
    }
    struct Named {
        std::string_view name;
        uint32_t keysym;
    };
    static constexpr Named named[] = {
        {"ctrl", 0xffe3},  {"shift", 0xffe1},  {"alt", 0xffe9},
        {"super", 0xffeb}, {"return", 0xff0d}, {"escape", 0xff1b},
        {"tab", 0xff09},   {"space", 0x20},    {"print", 0xff61},
    };
    for (const auto& entry : named) {
        if (entry.name == name) {
            return entry.keysym;
        }
    }
    return 0;
}

// A session of mutter's remote-desktop interface, started by open() and stopped when this
// ends. Each call waits for mutter's reply.
class Session {
public:
    explicit Session(DBusConnection* bus) : bus_(bus) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() {
        if (started_) {
            call("Stop", kEnd);
        }
    }

    bool open() {
        DBusMessage* message =
            dbus_message_new_method_call(kService, kPath, kService, "CreateSession");
        DBusMessage* reply = send(message);
        if (!reply) {
            return false;
        }
        const char* path = nullptr;
        DBusError error;
        dbus_error_init(&error);
        if (dbus_message_get_args(reply, &error, kPathType, &path, kEnd)) {
            path_ = path;
        } else {
            std::fprintf(stderr, "gnome_input: CreateSession answered %s\n", error.message);
            dbus_error_free(&error);
        }
        dbus_message_unref(reply);
        if (path_.empty() || !call("Start", kEnd)) {
            return false;
        }
        started_ = true;
        return true;
    }

    bool key(uint32_t sym, bool pressed) {
        const dbus_bool_t state = pressed ? TRUE : FALSE;
        return call("NotifyKeyboardKeysym", kUint32, &sym, kBoolean, &state, kEnd);
    }
    bool motion(double dx, double dy) {
        return call("NotifyPointerMotionRelative", kDouble, &dx, kDouble, &dy, kEnd);
    }
    bool button(bool pressed) {
        const int32_t code = kLeftButton;
        const dbus_bool_t state = pressed ? TRUE : FALSE;
        return call("NotifyPointerButton", kInt32, &code, kBoolean, &state, kEnd);
    }

private:
    bool call(const char* method, int firstType, ...) {
        DBusMessage* message =
            dbus_message_new_method_call(kService, path_.c_str(), kSessionInterface, method);
        va_list args;
        va_start(args, firstType);
        const bool built = dbus_message_append_args_valist(message, firstType, args);
        va_end(args);
        if (!built) {
            dbus_message_unref(message);
            return false;
        }
        DBusMessage* reply = send(message);
        if (reply) {
            dbus_message_unref(reply);
        }
        return reply != nullptr;
    }

    DBusMessage* send(DBusMessage* message) {
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(bus_, message, kTimeoutMs, &error);
        if (!reply) {
            std::fprintf(stderr, "gnome_input: %s: %s\n", dbus_message_get_member(message),
                         error.message);
            dbus_error_free(&error);
        }
        dbus_message_unref(message);
        return reply;
    }

    DBusConnection* bus_;
    std::string path_;
    bool started_ = false;
};

} // namespace gnome_input
