#include "PortalScreenShot.h"

#include "DBusMessage.h"
#include "common/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QUrl>
#include <optional>

namespace morvane {

namespace {

const char kPortal[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
const char kRequest[] = "org.freedesktop.portal.Request";

void appendOption(DBusMessageIter* dict, const char* key, int type, const void* value) {
    const char signature[2] = {char(type), '\0'};
    DBusMessageIter entry;
    DBusMessageIter variant;
    dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
    dbus_message_iter_append_basic(&variant, type, value);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(dict, &entry);
}

QByteArray matchRule(const QByteArray& path) {
    return "type='signal',interface='" + QByteArray(kRequest) + "',member='Response',path='" +
           path + '\'';
}

// Response(u response, a{sv} results): the code, and the results' "uri" when it holds text.
std::optional<PortalAnswer> readResponse(DBusMessage* signal) {
    if (qstrcmp(dbus_message_get_signature(signal), "ua{sv}") != 0) {
        return std::nullopt;
    }
    PortalAnswer answer;
    DBusMessageIter args;
    dbus_message_iter_init(signal, &args);
    dbus_uint32_t response = 2;
    dbus_message_iter_get_basic(&args, &response);
    answer.response = response;
    dbus_message_iter_next(&args);
    DBusMessageIter results;
    dbus_message_iter_recurse(&args, &results);
    while (dbus_message_iter_get_arg_type(&results) == DBUS_TYPE_DICT_ENTRY) {
        DBusMessageIter entry;
        dbus_message_iter_recurse(&results, &entry);
        const char* key = nullptr;
        dbus_message_iter_get_basic(&entry, &key);
        dbus_message_iter_next(&entry);
        DBusMessageIter value;
        dbus_message_iter_recurse(&entry, &value);
        if (key && qstrcmp(key, "uri") == 0 &&
            dbus_message_iter_get_arg_type(&value) == DBUS_TYPE_STRING) {
            const char* uri = nullptr;
            dbus_message_iter_get_basic(&value, &uri);
            answer.uri = QString::fromUtf8(uri);
        }
        dbus_message_iter_next(&results);
    }
    return answer;
}

// The picture the portal wrote, then the file removed. Pictures larger than any screen
// (or not pictures at all) are not read.
QImage takePicture(const QString& uri, QString* failure) {
    const QUrl url(uri);
    if (!url.isLocalFile()) {
        *failure = QStringLiteral("桌面给出的截图不在本机文件中（%1）").arg(uri);
        return {};
    }
    const QString path = url.toLocalFile();
    QImageReader reader(path);
    const QSize size = reader.size();
    constexpr int kMaxSide = 32767;
    QImage image;
    if (size.isValid() && size.width() <= kMaxSide && size.height() <= kMaxSide) {
        image = reader.read();
    }
    if (image.isNull()) {
        *failure = QStringLiteral("无法读取桌面给出的截图（%1）").arg(path);
    }
    QFile::remove(path);
    return image.isNull() ? image : image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

QByteArray portalRequestPath(const QByteArray& uniqueName, const QByteArray& token) {
    QByteArray sender = uniqueName.startsWith(':') ? uniqueName.mid(1) : uniqueName;
    sender.replace('.', '_');
    return QByteArray(kPortalPath) + "/request/" + sender + '/' + token;
}

QString portalRefusal(std::uint32_t response) {
    if (response == 1) {
        return QStringLiteral("桌面未允许本程序截屏");
    }
    return QStringLiteral("桌面拒绝了截屏请求");
}

PortalScreenShot::PortalScreenShot(DBusConnection* connection) : connection_(connection) {}

PortalScreenShot::~PortalScreenShot() {
    dbus_connection_close(connection_);
    dbus_connection_unref(connection_);
}

std::unique_ptr<PortalScreenShot> PortalScreenShot::open(QString* whyNot) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (!connection) {
        if (whyNot) {
            *whyNot = QString::fromUtf8(error.message);
        }
        dbus_error_free(&error);
        return nullptr;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return std::unique_ptr<PortalScreenShot>(new PortalScreenShot(connection));
}

std::optional<PortalAnswer>
PortalScreenShot::awaitAnswer(const QByteArray& path, std::chrono::steady_clock::time_point until) {
    while (dbus_connection_get_is_connected(connection_)) {
        while (Message message{dbus_connection_pop_message(connection_)}) {
            if (dbus_message_is_signal(message.get(), kRequest, "Response") &&
                path == dbus_message_get_path(message.get())) {
                return readResponse(message.get());
            }
        }
        const int left = msLeft(until);
        if (left == 0) {
            break;
        }
        dbus_connection_read_write(connection_, left);
    }
    return std::nullopt;
}

std::optional<PortalAnswer> PortalScreenShot::request(std::chrono::steady_clock::time_point until) {
    const QByteArray token = QByteArrayLiteral("morvane") +
                             QByteArray::number(QCoreApplication::applicationPid()) + '_' +
                             QByteArray::number(++requests_);
    const QByteArray expected = portalRequestPath(dbus_bus_get_unique_name(connection_), token);
    // The answer may come before the call returns: the match is in place first.
    QByteArray rule = matchRule(expected);
    dbus_bus_add_match(connection_, rule.constData(), nullptr);

    Message call(dbus_message_new_method_call(kPortal, kPortalPath,
                                              "org.freedesktop.portal.Screenshot", "Screenshot"));
    DBusMessageIter args;
    DBusMessageIter options;
    dbus_message_iter_init_append(call.get(), &args);
    const char* parent = "";
    dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent);
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &options);
    const char* tokenText = token.constData();
    const dbus_bool_t no = FALSE;
    appendOption(&options, "handle_token", DBUS_TYPE_STRING, &tokenText);
    appendOption(&options, "interactive", DBUS_TYPE_BOOLEAN, &no);
    appendOption(&options, "modal", DBUS_TYPE_BOOLEAN, &no);
    dbus_message_iter_close_container(&args, &options);

    DBusError error;
    dbus_error_init(&error);
    Message reply(dbus_connection_send_with_reply_and_block(connection_, call.get(),
                                                            std::max(1, msLeft(until)), &error));
    const char* handle = nullptr;
    if (reply && !dbus_message_get_args(reply.get(), &error, DBUS_TYPE_OBJECT_PATH, &handle,
                                        DBUS_TYPE_INVALID)) {
        handle = nullptr;
    }
    std::optional<PortalAnswer> answer;
    if (!handle) {
        failure_ = QStringLiteral("桌面没有截屏门户（%1）")
                       .arg(QString::fromUtf8(error.message ? error.message : "no reply"));
    } else {
        const QByteArray path(handle);
        if (path != expected) { // an older portal names the request its own way
            dbus_bus_remove_match(connection_, rule.constData(), nullptr);
            rule = matchRule(path);
            dbus_bus_add_match(connection_, rule.constData(), nullptr);
        }
        answer = awaitAnswer(path, until);
        if (!answer) {
            Message close(
                dbus_message_new_method_call(kPortal, path.constData(), kRequest, "Close"));
            dbus_message_set_no_reply(close.get(), TRUE);
            dbus_connection_send(connection_, close.get(), nullptr);
            dbus_connection_flush(connection_);
        }
    }
    dbus_error_free(&error);
    dbus_bus_remove_match(connection_, rule.constData(), nullptr);
    return answer;
}

QImage PortalScreenShot::capture(std::chrono::milliseconds deadline) {
    failure_.clear();
    const auto until = std::chrono::steady_clock::now() + deadline;
    const std::optional<PortalAnswer> answer = request(until);
    if (!answer) {
        if (failure_.isEmpty()) {
            failure_ = QStringLiteral("桌面没有在 %1 秒内给出截图")
                           .arg(std::chrono::duration_cast<std::chrono::seconds>(deadline).count());
        }
        qCWarning(lcMorvane) << "portal screenshot:" << failure_;
        return {};
    }
    if (answer->response != 0 || answer->uri.isEmpty()) {
        failure_ = portalRefusal(answer->response);
        qCInfo(lcMorvane) << "portal screenshot refused, response" << answer->response;
        return {};
    }
    return takePicture(answer->uri, &failure_);
}

} // namespace morvane
