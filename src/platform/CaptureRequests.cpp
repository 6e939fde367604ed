#include "CaptureRequests.h"

#include "AtspiBus.h"
#include "DBusWire.h"
#include "common/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <dbus/dbus.h>
#include <memory>
#include <optional>

namespace morvane {

namespace {

const char kName[] = "org.morvane.Morvane";
const char kPath[] = "/org/morvane/Morvane";
const char kInterface[] = "org.morvane.Morvane";

struct ErrorHolder {
    ErrorHolder() { dbus_error_init(&error); }
    ~ErrorHolder() { dbus_error_free(&error); }
    ErrorHolder(const ErrorHolder&) = delete;
    ErrorHolder& operator=(const ErrorHolder&) = delete;
    bool is(const char* name) const { return dbus_error_has_name(&error, name); }
    QString text() const { return QString::fromUtf8(error.message ? error.message : "unknown"); }
    DBusError error;
};

// The session bus's address as the desktop gives it: the variable, or the per-user bus in
// the runtime folder. Never libdbus's own fallback, which may launch a bus of its own.
std::optional<QByteArray> sessionBusAddress() {
    const QByteArray given = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    if (!given.isEmpty()) {
        return given;
    }
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray socket = runtime + "/bus";
    if (!QFileInfo(QString::fromLocal8Bit(socket)).exists()) {
        return std::nullopt;
    }
    char* escaped = dbus_address_escape_value(socket.constData());
    if (!escaped) {
        return std::nullopt;
    }
    QByteArray address = "unix:path=" + QByteArray(escaped);
    dbus_free(escaped);
    return address;
}

struct ConnectionClose {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionClose>;

Message callWithin(DBusConnection* connection, DBusMessage* request, const Budget& budget,
                   ErrorHolder& error) {
    return Message(dbus_connection_send_with_reply_and_block(
        connection, request, std::max(1, budget.leftMs()), &error.error));
}

} // namespace

CaptureRequests::CaptureRequests() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcMorvane) << "no session bus: `morvane --capture` cannot reach this program:"
                             << bus.lastError().message();
        return;
    }
    // The object first, so that a call arriving as soon as the name is owned finds it.
    const QString path = QString::fromLatin1(kPath);
    if (!bus.registerObject(path, this, QDBusConnection::ExportScriptableSlots)) {
        qCWarning(lcMorvane) << "cannot export" << path << "on the session bus";
        return;
    }
    // Not queued: a second owner must fail at once rather than wait for the first to go.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> owned =
        bus.interface()->registerService(QString::fromLatin1(kName),
                                         QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!owned.isValid() || owned.value() != QDBusConnectionInterface::ServiceRegistered) {
        qCWarning(lcMorvane) << "session bus name" << kName
                             << "not owned; `morvane --capture` cannot reach this program:"
                             << (owned.isValid() ? QStringLiteral("another program holds it")
                                                 : owned.error().message());
        bus.unregisterObject(path);
        return;
    }
    serving_ = true;
    qCInfo(lcMorvane) << "capture requests taken on the session bus as" << kName;
}

CaptureRequests::~CaptureRequests() {
    stop();
}

void CaptureRequests::stop() {
    if (!serving_) {
        return;
    }
    serving_ = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.interface()->unregisterService(QString::fromLatin1(kName));
    bus.unregisterObject(QString::fromLatin1(kPath));
}

void CaptureRequests::Capture() {
    qCInfo(lcMorvane) << "capture asked on the session bus";
    // The reply goes when this returns; the capture starts afterwards, from the event loop.
    QTimer::singleShot(0, this, [this] {
        if (serving_) {
            emit requested();
        }
    });
}

CaptureAsked askRunningProgramToCapture(int timeoutMs) {
    using Kind = CaptureAsked::Kind;
    const Budget budget{std::chrono::milliseconds(timeoutMs)};
    const std::optional<QByteArray> address = sessionBusAddress();
    if (!address) {
        return {Kind::NoSessionBus, QStringLiteral("DBUS_SESSION_BUS_ADDRESS is not set")};
    }
    ErrorHolder error;
    Connection connection(dbus_connection_open_private(address->constData(), &error.error));
    if (!connection) {
        return {Kind::NoSessionBus, error.text()};
    }
    dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
    // The bus's greeting, bounded like the call (dbus_bus_register would wait 25 s).
    const Message hello(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                     DBUS_INTERFACE_DBUS, "Hello"));
    if (!hello || !callWithin(connection.get(), hello.get(), budget, error)) {
        return {Kind::NoSessionBus, error.text()};
    }
    const Message capture(dbus_message_new_method_call(kName, kPath, kInterface, "Capture"));
    if (!capture) {
        return {Kind::Failed, QStringLiteral("out of memory")};
    }
    // A desktop that knows how to start the program must not start it for a key press.
    dbus_message_set_auto_start(capture.get(), FALSE);
    if (callWithin(connection.get(), capture.get(), budget, error)) {
        return {Kind::Taken, {}};
    }
    if (error.is(DBUS_ERROR_SERVICE_UNKNOWN) || error.is(DBUS_ERROR_NAME_HAS_NO_OWNER)) {
        return {Kind::NotRunning, {}};
    }
    return {Kind::Failed, error.text()};
}

} // namespace morvane
