#include "KWinScript.h"

#include "DBusMessage.h"
#include "common/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace morvane {

namespace {

const char kKWin[] = "org.kde.KWin";
const char kAnswerInterface[] = "org.morvane.KWin";
constexpr qsizetype kMaxText = 4096;
constexpr qsizetype kMaxWindows = 512;

// A call to KWin with string arguments, waited for until the deadline; null on any error.
Message callKWin(DBusConnection* connection, const char* path, const char* interface,
                 const char* member, const QList<QByteArray>& arguments,
                 std::chrono::steady_clock::time_point until, QString* error) {
    Message call(dbus_message_new_method_call(kKWin, path, interface, member));
    if (!call) {
        return {};
    }
    for (const QByteArray& argument : arguments) {
        const char* value = argument.constData();
        dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &value, DBUS_TYPE_INVALID);
    }
    DBusError failure;
    dbus_error_init(&failure);
    Message reply(dbus_connection_send_with_reply_and_block(connection, call.get(),
                                                            std::max(1, msLeft(until)), &failure));
    if (dbus_error_is_set(&failure)) {
        if (error) {
            *error = QString::fromUtf8(failure.message);
        }
        dbus_error_free(&failure);
        return {};
    }
    return reply;
}

QRect rectOf(const QJsonValue& value) {
    const QJsonArray a = value.toArray();
    if (a.size() != 4) {
        return {};
    }
    return QRect(a[0].toInt(), a[1].toInt(), std::max(0, a[2].toInt()), std::max(0, a[3].toInt()));
}

} // namespace

std::optional<KWinSnapshot> parseKWinSnapshot(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    const QJsonArray pointer = root.value(QLatin1String("pointer")).toArray();
    if (pointer.size() != 2) {
        return std::nullopt;
    }
    KWinSnapshot snapshot;
    snapshot.run = root.value(QLatin1String("run")).toInt(-1);
    snapshot.pointer = QPoint(pointer[0].toInt(), pointer[1].toInt());
    const QJsonArray entries = root.value(QLatin1String("windows")).toArray();
    for (const QJsonValue entry : entries) {
        const QJsonObject w = entry.toObject();
        KWinWindow window;
        window.id = w.value(QLatin1String("id")).toString().left(kMaxText);
        window.caption = w.value(QLatin1String("caption")).toString().left(kMaxText);
        window.resourceClass =
            w.value(QLatin1String("resourceClass")).toString().left(kMaxText).toUtf8();
        const double pid = w.value(QLatin1String("pid")).toDouble();
        window.pid = pid > 0 && pid < 4294967296.0 ? std::uint32_t(pid) : 0;
        window.frame = rectOf(w.value(QLatin1String("frame")));
        window.buffer = rectOf(w.value(QLatin1String("buffer")));
        window.transientFor = w.value(QLatin1String("transientFor")).toString().left(kMaxText);
        if (window.id.isEmpty() || window.frame.isEmpty()) {
            continue;
        }
        snapshot.windows.append(window);
        if (snapshot.windows.size() == kMaxWindows) {
            break;
        }
    }
    return snapshot;
}

KWinScript::KWinScript(DBusConnection* connection) : connection_(connection) {}

KWinScript::~KWinScript() {
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
    if (!scriptPath_.isEmpty()) {
        QFile::remove(scriptPath_);
    }
}

std::unique_ptr<KWinScript> KWinScript::open() {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!connection) {
        qCInfo(lcMorvane) << "no session bus for KWin's scripts:" << error.message;
        dbus_error_free(&error);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return std::unique_ptr<KWinScript>(new KWinScript(connection));
}

QString KWinScript::writeScript(int run) {
    QFile source(QStringLiteral(":/platform/kwin/windows.js"));
    if (!source.open(QIODevice::ReadOnly)) {
        return {};
    }
    // The script calls back this connection's unique name, which only this process holds.
    QByteArray text = source.readAll();
    text.replace("%SERVICE%", dbus_bus_get_unique_name(connection_));
    text.replace("%RUN%", QByteArray::number(run));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    const QString path = QDir(folder).filePath(
        QStringLiteral("morvane-windows-%1.js").arg(QCoreApplication::applicationPid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        return {};
    }
    scriptPath_ = path;
    return scriptPath_;
}

std::optional<KWinSnapshot> KWinScript::awaitAnswer(int run,
                                                    std::chrono::steady_clock::time_point until) {
    while (dbus_connection_get_is_connected(connection_)) {
        while (Message message{dbus_connection_pop_message(connection_)}) {
            if (!dbus_message_is_method_call(message.get(), kAnswerInterface, "answer")) {
                continue; // the bus's own signals, or a stray call
            }
            const char* text = nullptr;
            DBusError error;
            dbus_error_init(&error);
            const bool read = dbus_message_get_args(message.get(), &error, DBUS_TYPE_STRING, &text,
                                                    DBUS_TYPE_INVALID);
            dbus_error_free(&error);
            if (!dbus_message_get_no_reply(message.get())) {
                Message reply(dbus_message_new_method_return(message.get()));
                if (reply) {
                    dbus_connection_send(connection_, reply.get(), nullptr);
                }
            }
            std::optional<KWinSnapshot> snapshot =
                read && text ? parseKWinSnapshot(QByteArray(text)) : std::nullopt;
            if (snapshot && snapshot->run == run) {
                return snapshot;
            }
            // A late answer to an earlier question, or one that cannot be read: waited on.
        }
        const int left = msLeft(until);
        if (left == 0) {
            break;
        }
        dbus_connection_read_write(connection_, left);
    }
    return std::nullopt;
}

std::optional<KWinSnapshot> KWinScript::snapshot(std::chrono::milliseconds deadline) {
    const auto until = std::chrono::steady_clock::now() + deadline;
    failure_.clear();
    const int run = ++runs_;
    const QString path = writeScript(run);
    if (path.isEmpty()) {
        failure_ = QStringLiteral("无法写出交给 KWin 的脚本");
        return std::nullopt;
    }
    const QByteArray plugin =
        QStringLiteral("morvane-windows-%1").arg(QCoreApplication::applicationPid()).toUtf8();
    QString error;
    // A script left loaded by a question that ran out of time would refuse the new load.
    callKWin(connection_, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", {plugin}, until,
             nullptr);
    const Message loaded = callKWin(connection_, "/Scripting", "org.kde.kwin.Scripting",
                                    "loadScript", {path.toUtf8(), plugin}, until, &error);
    dbus_int32_t id = -1;
    if (!loaded ||
        !dbus_message_get_args(loaded.get(), nullptr, DBUS_TYPE_INT32, &id, DBUS_TYPE_INVALID) ||
        id < 0) {
        qCWarning(lcMorvane) << "KWin did not load the window script:" << error;
        failure_ = QStringLiteral("KWin 没有提供脚本接口（%1）").arg(error);
        return std::nullopt;
    }
    const QByteArray scriptObject = "/" + QByteArray::number(id);
    const bool ran = bool(callKWin(connection_, scriptObject.constData(), "org.kde.kwin.Script",
                                   "run", {}, until, &error));
    std::optional<KWinSnapshot> answer = ran ? awaitAnswer(run, until) : std::nullopt;
    // Unloaded without waiting: the next question unloads it again if this was lost.
    if (Message unload{dbus_message_new_method_call(kKWin, "/Scripting", "org.kde.kwin.Scripting",
                                                    "unloadScript")}) {
        const char* name = plugin.constData();
        dbus_message_append_args(unload.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
        dbus_message_set_no_reply(unload.get(), TRUE);
        dbus_connection_send(connection_, unload.get(), nullptr);
        dbus_connection_flush(connection_);
    }
    if (!answer) {
        qCWarning(lcMorvane) << "KWin's window script gave no answer in time" << error;
        failure_ = QStringLiteral("KWin 没有及时回答窗口信息");
    }
    return answer;
}

} // namespace morvane
