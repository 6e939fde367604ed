#include "AtspiBus.h"

#include "DBusWire.h"

#include "common/Log.h"

#include <QList>
#include <algorithm>
#include <cstring>
#include <dbus/dbus.h>
#include <memory>
#include <utility>

namespace morvane {

namespace {

// The protocol's numbers (at-spi2-core's atspi-constants.h), as they travel on the bus.
constexpr std::uint32_t kCoordScreen = 0;
constexpr std::uint32_t kCoordWindow = 1;
constexpr int kStateEditable = 7;
constexpr int kStateShowing = 25;
constexpr int kStateVisible = 30;
constexpr std::uint32_t kRolePasswordText = 40;
constexpr int kRoleDocumentWeb = 95;
constexpr std::int32_t kMatchAll = 1;
constexpr std::int32_t kMatchAny = 2;
constexpr std::uint32_t kSortCanonical = 1;

// Far beyond any screen, and far enough from the limits of int that QRect's own arithmetic
// (right = x + width - 1, intersections, areas) cannot overflow.
constexpr std::int64_t kExtentLimit = 1 << 20;

const char* const kRegistry = "org.a11y.atspi.Registry";
const char* const kRootPath = "/org/a11y/atspi/accessible/root";
const char* const kAccessible = "org.a11y.atspi.Accessible";

// Collection.GetMatches for showing web documents, the rule as the protocol lays it out:
// (states, how, attributes, how, roles, how, interfaces, how, invert), then sort order,
// count and whether to descend into the matches.
Message documentsCall(const AtspiRef& frame) {
    Message call = methodCall(frame, "org.a11y.atspi.Collection", "GetMatches");
    if (!call) {
        return call;
    }
    constexpr dbus_int32_t kMaxDocuments = 16;
    DBusMessageIter args;
    DBusMessageIter rule;
    DBusMessageIter container;
    dbus_message_iter_init_append(call.get(), &args);
    dbus_message_iter_open_container(&args, DBUS_TYPE_STRUCT, nullptr, &rule);
    appendIntArray(&rule, {dbus_int32_t(1U << kStateShowing), 0});
    dbus_int32_t how = kMatchAll;
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &how);
    dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "{ss}", &container);
    dbus_message_iter_close_container(&rule, &container);
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &how);
    QList<dbus_int32_t> roles(4, 0);
    roles[kRoleDocumentWeb / 32] = dbus_int32_t(1U << (kRoleDocumentWeb % 32));
    appendIntArray(&rule, roles);
    how = kMatchAny;
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &how);
    dbus_message_iter_open_container(&rule, DBUS_TYPE_ARRAY, "s", &container);
    dbus_message_iter_close_container(&rule, &container);
    how = kMatchAll;
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_INT32, &how);
    dbus_bool_t invert = FALSE;
    dbus_message_iter_append_basic(&rule, DBUS_TYPE_BOOLEAN, &invert);
    dbus_message_iter_close_container(&args, &rule);
    const dbus_uint32_t sort = kSortCanonical;
    const dbus_int32_t count = kMaxDocuments;
    const dbus_bool_t traverse = TRUE;
    dbus_message_append_args(call.get(), DBUS_TYPE_UINT32, &sort, DBUS_TYPE_INT32, &count,
                             DBUS_TYPE_BOOLEAN, &traverse, DBUS_TYPE_INVALID);
    return call;
}

} // namespace

int Budget::leftMs() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

QRect clampedExtents(std::int64_t x, std::int64_t y, std::int64_t width, std::int64_t height) {
    const auto coordinate = [](std::int64_t v) {
        return int(std::clamp(v, -kExtentLimit, kExtentLimit));
    };
    const auto size = [](std::int64_t v) {
        return int(std::clamp<std::int64_t>(v, 0, kExtentLimit));
    };
    return QRect(coordinate(x), coordinate(y), size(width), size(height));
}

bool isLocalSocketAddress(const QByteArray& address) {
    const QList<QByteArray> entries = address.split(';');
    return !address.isEmpty() && std::all_of(entries.begin(), entries.end(), [](const auto& e) {
        return e.startsWith("unix:path=") || e.startsWith("unix:abstract=");
    });
}

std::optional<AtspiBus> AtspiBus::connect(const QByteArray& address, const Budget& budget) {
    if (!isLocalSocketAddress(address)) {
        qCWarning(lcMorvane) << "accessibility bus refused: not a local socket:" << address;
        return std::nullopt;
    }
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_connection_open_private(address.constData(), &error);
    if (!connection) {
        qCInfo(lcMorvane) << "accessibility bus not reached:" << error.message;
        dbus_error_free(&error);
        return std::nullopt;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    AtspiBus bus(connection);
    // The bus's greeting, bounded like every other call (dbus_bus_register would wait 25 s).
    const Message hello =
        callOne(connection,
                Message(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                     DBUS_INTERFACE_DBUS, "Hello")),
                budget);
    const QByteArray name = readString(hello.get()).toUtf8();
    if (name.isEmpty() || !dbus_bus_set_unique_name(connection, name.constData())) {
        qCInfo(lcMorvane) << "accessibility bus did not greet within the time";
        return std::nullopt;
    }
    return bus;
}

AtspiBus::AtspiBus(AtspiBus&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)) {}

AtspiBus& AtspiBus::operator=(AtspiBus&& other) noexcept {
    std::swap(connection_, other.connection_);
    return *this;
}

AtspiBus::~AtspiBus() {
    if (connection_) {
        dbus_connection_close(connection_);
        dbus_connection_unref(connection_);
    }
}

bool AtspiBus::connected() const {
    return connection_ && dbus_connection_get_is_connected(connection_);
}

std::optional<std::vector<AtspiRef>> AtspiBus::applications(const Budget& budget) {
    const Message reply = callOne(
        connection_, methodCall({kRegistry, kRootPath}, kAccessible, "GetChildren"), budget);
    if (!reply) {
        return std::nullopt;
    }
    return readRefs(reply.get(), kMaxChildren);
}

std::vector<std::uint32_t> AtspiBus::processes(const std::vector<AtspiRef>& applications,
                                               const Budget& budget) {
    std::vector<Message> requests;
    for (const AtspiRef& application : applications) {
        Message call(dbus_message_new_method_call(
            DBUS_SERVICE_DBUS, DBUS_PATH_DBUS, DBUS_INTERFACE_DBUS, "GetConnectionUnixProcessID"));
        const char* name = application.bus.constData();
        if (!dbus_validate_bus_name(name, nullptr) ||
            !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
            call.reset();
        }
        requests.push_back(std::move(call));
    }
    std::vector<std::uint32_t> pids;
    for (const Message& reply : callAll(connection_, std::move(requests), budget)) {
        pids.push_back(readUint(reply.get()).value_or(0));
    }
    return pids;
}

std::optional<std::vector<AtspiRef>> AtspiBus::children(const AtspiRef& element,
                                                        const Budget& budget) {
    const Message reply =
        callOne(connection_, methodCall(element, kAccessible, "GetChildren"), budget);
    if (!reply && budget.spent()) {
        return std::nullopt;
    }
    return readRefs(reply.get(), kMaxChildren);
}

std::optional<std::vector<QRect>> AtspiBus::extents(const std::vector<AtspiRef>& elements,
                                                    const Budget& budget, Coords coords) {
    std::vector<Message> requests;
    for (const AtspiRef& element : elements) {
        requests.push_back(methodCall(element, kAccessible, "GetState"));
        Message rect = methodCall(element, "org.a11y.atspi.Component", "GetExtents");
        const dbus_uint32_t type = coords == Coords::Screen ? kCoordScreen : kCoordWindow;
        if (rect) {
            dbus_message_append_args(rect.get(), DBUS_TYPE_UINT32, &type, DBUS_TYPE_INVALID);
        }
        requests.push_back(std::move(rect));
    }
    const std::vector<Message> replies = callAll(connection_, std::move(requests), budget);
    if (budget.spent()) {
        return std::nullopt;
    }
    // An application whose rectangles are relative to its window (GTK 4) never says that an
    // element is showing, only that it is visible.
    const int shown = coords == Coords::Screen ? kStateShowing : kStateVisible;
    std::vector<QRect> rects;
    for (std::size_t i = 0; i + 1 < replies.size(); i += 2) {
        rects.push_back(hasState(replies[i].get(), shown) ? readExtents(replies[i + 1].get())
                                                          : QRect());
    }
    return rects;
}

AtspiToolkit AtspiBus::toolkit(const AtspiRef& application, const Budget& budget) {
    std::vector<Message> requests;
    requests.push_back(propertyCall(application, "org.a11y.atspi.Application", "ToolkitName"));
    requests.push_back(propertyCall(application, "org.a11y.atspi.Application", "Version"));
    const std::vector<Message> replies = callAll(connection_, std::move(requests), budget);
    return {readStringVariant(replies[0].get()), readStringVariant(replies[1].get())};
}

QString AtspiBus::name(const AtspiRef& element, const Budget& budget) {
    return readStringVariant(
        callOne(connection_, propertyCall(element, kAccessible, "Name"), budget).get());
}

AtspiDescription AtspiBus::describe(const AtspiRef& element, const Budget& budget) {
    std::vector<Message> requests;
    requests.push_back(propertyCall(element, kAccessible, "Name"));
    requests.push_back(methodCall(element, kAccessible, "GetRoleName"));
    requests.push_back(methodCall(element, kAccessible, "GetRole"));
    requests.push_back(methodCall(element, kAccessible, "GetState"));
    requests.push_back(methodCall(element, kAccessible, "GetInterfaces"));
    const std::vector<Message> replies = callAll(connection_, std::move(requests), budget);
    AtspiDescription description{
        .name = readStringVariant(replies[0].get()),
        .roleName = readString(replies[1].get()),
        .editable = hasState(replies[3].get(), kStateEditable),
    };
    // A role that cannot be read could be a password's: its text is not asked for then.
    const std::optional<std::uint32_t> role = readUint(replies[2].get());
    description.password = !role || *role == kRolePasswordText;
    // Only an element that says it has text is asked for it: toolkits complain of the rest.
    if (!description.password && hasInterface(replies[4].get(), "org.a11y.atspi.Text")) {
        Message text = methodCall(element, "org.a11y.atspi.Text", "GetText");
        const dbus_int32_t start = 0;
        const dbus_int32_t end = -1;
        if (text) {
            dbus_message_append_args(text.get(), DBUS_TYPE_INT32, &start, DBUS_TYPE_INT32, &end,
                                     DBUS_TYPE_INVALID);
        }
        description.text = readString(callOne(connection_, std::move(text), budget).get());
    }
    return description;
}

QString AtspiBus::pageAddress(const AtspiRef& frame, const Budget& budget) {
    const Message interfaces =
        callOne(connection_, methodCall(frame, kAccessible, "GetInterfaces"), budget);
    if (!hasInterface(interfaces.get(), "org.a11y.atspi.Collection")) {
        return {};
    }
    const std::vector<AtspiRef> documents =
        readRefs(callOne(connection_, documentsCall(frame), budget).get(), kMaxChildren);
    const std::vector<QRect> rects = extents(documents, budget).value_or(std::vector<QRect>{});
    for (std::size_t i = 0; i < rects.size(); ++i) {
        if (rects[i].isEmpty()) {
            continue; // another tab's page
        }
        for (const char* attribute : {"URI", "DocURL"}) {
            Message call = methodCall(documents[i], "org.a11y.atspi.Document", "GetAttributeValue");
            if (call) {
                dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &attribute,
                                         DBUS_TYPE_INVALID);
            }
            QString address = readString(callOne(connection_, std::move(call), budget).get());
            if (!address.isEmpty()) {
                return address;
            }
        }
    }
    return {};
}

void AtspiBus::discardIncoming() {
    if (!connection_) {
        return;
    }
    while (DBusMessage* message = dbus_connection_pop_message(connection_)) {
        dbus_message_unref(message);
    }
}

} // namespace morvane
