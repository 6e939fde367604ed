#pragma once

// Small pieces of libdbus for the accessibility bus: owned messages, calls bounded by a
// look-up's budget, and readers that check each reply's signature before reading it (the
// replies come from other programs).
#include "AtspiBus.h"
#include "DBusMessage.h"

#include <QList>
#include <QRect>
#include <QString>
#include <dbus/dbus.h>
#include <memory>
#include <optional>
#include <vector>

namespace morvane {

// A method call to the element; null when its bus name or path is not valid.
Message methodCall(const AtspiRef& to, const char* interface, const char* member);
// org.freedesktop.DBus.Properties.Get of one of the element's properties.
Message propertyCall(const AtspiRef& to, const char* interface, const char* property);

// Sends every request at once, then takes each reply as it comes; all of them are bounded
// by the budget. An error, a missing reply or a request that could not be made is null.
std::vector<Message> callAll(DBusConnection* connection, std::vector<Message> requests,
                             const Budget& budget);
Message callOne(DBusConnection* connection, Message request, const Budget& budget);

// a(so): element references, the null reference left out, at most maxRefs of them.
std::vector<AtspiRef> readRefs(DBusMessage* reply, std::size_t maxRefs);
QString readString(DBusMessage* reply);                       // s
QString readStringVariant(DBusMessage* reply);                // v holding s
std::optional<std::uint32_t> readUint(DBusMessage* reply);    // u
bool hasState(DBusMessage* reply, int state);                 // au, the state set as bits
bool hasInterface(DBusMessage* reply, const char* interface); // as
QRect readExtents(DBusMessage* reply);                        // (iiii), clamped
void appendIntArray(DBusMessageIter* into, const QList<dbus_int32_t>& values);

} // namespace morvane
