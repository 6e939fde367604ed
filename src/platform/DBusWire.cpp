#include "DBusWire.h"

#include <cstring>

namespace morvane {

Message methodCall(const AtspiRef& to, const char* interface, const char* member) {
    // Names and paths come from other programs' answers: libdbus refuses invalid ones.
    if (!dbus_validate_bus_name(to.bus.constData(), nullptr) ||
        !dbus_validate_path(to.path.constData(), nullptr)) {
        return nullptr;
    }
    return Message(
        dbus_message_new_method_call(to.bus.constData(), to.path.constData(), interface, member));
}

Message propertyCall(const AtspiRef& to, const char* interface, const char* property) {
    Message call = methodCall(to, "org.freedesktop.DBus.Properties", "Get");
    if (call) {
        dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                                 &property, DBUS_TYPE_INVALID);
    }
    return call;
}

// Sends every request at once, then takes each reply as it comes; all of them are bounded
// by the budget. An error, a missing reply or a request that could not be made is null.
std::vector<Message> callAll(DBusConnection* connection, std::vector<Message> requests,
                             const Budget& budget) {
    std::vector<Message> replies(requests.size());
    const int timeout = budget.leftMs();
    if (!connection || timeout <= 0) {
        return replies;
    }
    std::vector<DBusPendingCall*> pending(requests.size(), nullptr);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (requests[i]) {
            dbus_connection_send_with_reply(connection, requests[i].get(), &pending[i], timeout);
        }
    }
    for (std::size_t i = 0; i < pending.size(); ++i) {
        if (!pending[i]) {
            continue;
        }
        dbus_pending_call_block(pending[i]);
        Message reply(dbus_pending_call_steal_reply(pending[i]));
        dbus_pending_call_unref(pending[i]);
        if (reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN) {
            replies[i] = std::move(reply);
        }
    }
    return replies;
}

Message callOne(DBusConnection* connection, Message request, const Budget& budget) {
    std::vector<Message> requests;
    requests.push_back(std::move(request));
    return std::move(callAll(connection, std::move(requests), budget).front());
}

// a(so): element references, the null reference left out.
std::vector<AtspiRef> readRefs(DBusMessage* reply, std::size_t maxRefs) {
    std::vector<AtspiRef> refs;
    if (!reply || !dbus_message_has_signature(reply, "a(so)")) {
        return refs;
    }
    DBusMessageIter top;
    DBusMessageIter array;
    dbus_message_iter_init(reply, &top);
    dbus_message_iter_recurse(&top, &array);
    while (dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRUCT && refs.size() < maxRefs) {
        DBusMessageIter entry;
        dbus_message_iter_recurse(&array, &entry);
        const char* bus = nullptr;
        const char* path = nullptr;
        dbus_message_iter_get_basic(&entry, &bus);
        dbus_message_iter_next(&entry);
        dbus_message_iter_get_basic(&entry, &path);
        if (bus && path && std::strcmp(path, "/org/a11y/atspi/null") != 0 && bus[0] != '\0') {
            refs.push_back(AtspiRef{QByteArray(bus), QByteArray(path)});
        }
        dbus_message_iter_next(&array);
    }
    return refs;
}

QString readString(DBusMessage* reply) {
    const char* text = nullptr;
    if (reply && dbus_message_has_signature(reply, "s")) {
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID);
    }
    return text ? QString::fromUtf8(text) : QString();
}

// A property's value: v holding s.
QString readStringVariant(DBusMessage* reply) {
    if (!reply || !dbus_message_has_signature(reply, "v")) {
        return {};
    }
    DBusMessageIter top;
    DBusMessageIter value;
    dbus_message_iter_init(reply, &top);
    dbus_message_iter_recurse(&top, &value);
    const char* text = nullptr;
    if (dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_STRING) {
        dbus_message_iter_get_basic(&value, &text);
    }
    return text ? QString::fromUtf8(text) : QString();
}

std::optional<std::uint32_t> readUint(DBusMessage* reply) {
    dbus_uint32_t value = 0;
    if (reply && dbus_message_has_signature(reply, "u") &&
        dbus_message_get_args(reply, nullptr, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID)) {
        return value;
    }
    return std::nullopt;
}

// au: the state set as bits, the first word first.
bool hasState(DBusMessage* reply, int state) {
    if (!reply || !dbus_message_has_signature(reply, "au")) {
        return false;
    }
    DBusMessageIter top;
    DBusMessageIter array;
    dbus_message_iter_init(reply, &top);
    dbus_message_iter_recurse(&top, &array);
    for (int word = 0; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_UINT32; ++word) {
        dbus_uint32_t bits = 0;
        dbus_message_iter_get_basic(&array, &bits);
        if (word == state / 32) {
            return (bits >> (state % 32)) & 1U;
        }
        dbus_message_iter_next(&array);
    }
    return false;
}

// as: the interfaces an element implements.
bool hasInterface(DBusMessage* reply, const char* interface) {
    if (!reply || !dbus_message_has_signature(reply, "as")) {
        return false;
    }
    DBusMessageIter top;
    DBusMessageIter array;
    dbus_message_iter_init(reply, &top);
    dbus_message_iter_recurse(&top, &array);
    for (; dbus_message_iter_get_arg_type(&array) == DBUS_TYPE_STRING;
         dbus_message_iter_next(&array)) {
        const char* name = nullptr;
        dbus_message_iter_get_basic(&array, &name);
        if (name && std::strcmp(name, interface) == 0) {
            return true;
        }
    }
    return false;
}

QRect readExtents(DBusMessage* reply) {
    if (!reply || !dbus_message_has_signature(reply, "(iiii)")) {
        return {};
    }
    DBusMessageIter top;
    DBusMessageIter fields;
    dbus_message_iter_init(reply, &top);
    dbus_message_iter_recurse(&top, &fields);
    std::int64_t values[4] = {};
    for (std::int64_t& value : values) {
        dbus_int32_t field = 0;
        dbus_message_iter_get_basic(&fields, &field);
        value = field;
        dbus_message_iter_next(&fields);
    }
    return clampedExtents(values[0], values[1], values[2], values[3]);
}

void appendIntArray(DBusMessageIter* into, const QList<dbus_int32_t>& values) {
    DBusMessageIter array;
    dbus_message_iter_open_container(into, DBUS_TYPE_ARRAY, "i", &array);
    for (dbus_int32_t value : values) {
        dbus_message_iter_append_basic(&array, DBUS_TYPE_INT32, &value);
    }
    dbus_message_iter_close_container(into, &array);
}

} // namespace morvane
