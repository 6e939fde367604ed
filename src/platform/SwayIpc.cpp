#include "SwayIpc.h"

#include "common/Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace morvane {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr qsizetype kHeaderSize = 14;
// The tree of a busy desktop is a few hundred kilobytes; anything this large is not sway's.
constexpr std::uint32_t kMaxAnswer = 64u << 20;
constexpr std::chrono::milliseconds kDeadline{1000};

struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

using Clock = std::chrono::steady_clock;

// Until the socket is ready for the events, or the deadline; false when it came first.
bool waitFor(int fd, short events, Clock::time_point until) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd watch{fd, events, 0};
        const int ready = ::poll(&watch, 1, int(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool sendAll(int fd, const QByteArray& bytes, Clock::time_point until) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLOUT, until)) {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

bool readExactly(int fd, char* into, qsizetype size, Clock::time_point until) {
    qsizetype have = 0;
    while (have < size) {
        const ssize_t n = ::recv(fd, into + have, std::size_t(size - have), 0);
        if (n > 0) {
            have += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLIN, until)) {
                return false;
            }
        } else {
            return false; // the end of the stream, or an error
        }
    }
    return true;
}

void putU32(QByteArray& into, std::uint32_t value) {
    into.append(reinterpret_cast<const char*>(&value), sizeof value); // host byte order
}

std::uint32_t getU32(const char* from) {
    std::uint32_t value;
    std::memcpy(&value, from, sizeof value);
    return value;
}

} // namespace

SwayIpc::SwayIpc(QByteArray socketPath) : socketPath_(std::move(socketPath)) {}

QByteArray SwayIpc::socketFromEnvironment() {
    return qgetenv("SWAYSOCK");
}

std::optional<QByteArray> SwayIpc::ask(Type type, const QByteArray& payload,
                                       std::chrono::milliseconds deadline) {
    failure_.clear();
    const Clock::time_point until = Clock::now() + deadline;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath_.isEmpty() || std::size_t(socketPath_.size()) >= sizeof address.sun_path) {
        failure_ = QStringLiteral("没有 sway 的控制套接字（SWAYSOCK）");
        return std::nullopt;
    }
    std::memcpy(address.sun_path, socketPath_.constData(), std::size_t(socketPath_.size()));
    Socket socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (socket.fd < 0 ||
        ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        failure_ =
            QStringLiteral("无法连接 sway（%1）").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    QByteArray message(kMagic, sizeof kMagic);
    putU32(message, std::uint32_t(payload.size()));
    putU32(message, type);
    message += payload;
    char header[kHeaderSize];
    if (!sendAll(socket.fd, message, until) ||
        !readExactly(socket.fd, header, kHeaderSize, until)) {
        failure_ = QStringLiteral("sway 没有及时回答");
        return std::nullopt;
    }
    const std::uint32_t length = getU32(header + sizeof kMagic);
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || length > kMaxAnswer ||
        getU32(header + sizeof kMagic + 4) != type) {
        failure_ = QStringLiteral("sway 的回答无法读取");
        return std::nullopt;
    }
    QByteArray answer(qsizetype(length), Qt::Uninitialized);
    if (!readExactly(socket.fd, answer.data(), answer.size(), until)) {
        failure_ = QStringLiteral("sway 没有及时回答");
        return std::nullopt;
    }
    return answer;
}

std::optional<SwaySnapshot> SwayIpc::snapshot() {
    const std::optional<QByteArray> tree = ask(GetTree, {}, kDeadline);
    if (!tree) {
        return std::nullopt;
    }
    std::optional<SwaySnapshot> snapshot = parseSwayTree(*tree);
    if (!snapshot) {
        failure_ = QStringLiteral("sway 的窗口树无法读取");
    }
    return snapshot;
}

bool SwayIpc::run(const QByteArray& commands) {
    const std::optional<QByteArray> answer = ask(RunCommand, commands, kDeadline);
    if (!answer) {
        return false;
    }
    failure_ = swayCommandError(*answer);
    if (!failure_.isEmpty()) {
        qCWarning(lcMorvane) << "sway refused" << commands << ":" << failure_;
    }
    return failure_.isEmpty();
}

std::optional<QByteArray> SwayIpc::config() {
    const std::optional<QByteArray> answer = ask(GetConfig, {}, kDeadline);
    if (!answer) {
        return std::nullopt;
    }
    const QJsonValue text =
        QJsonDocument::fromJson(*answer).object().value(QLatin1String("config"));
    if (!text.isString()) {
        failure_ = QStringLiteral("sway 的配置无法读取");
        return std::nullopt;
    }
    return text.toString().toUtf8();
}

QString swayCommandError(const QByteArray& json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray() || document.array().isEmpty()) {
        return QStringLiteral("sway 的回答无法读取");
    }
    for (const auto& result : document.array()) {
        const QJsonObject object = result.toObject();
        if (!object.value(QLatin1String("success")).toBool()) {
            const QString error = object.value(QLatin1String("error")).toString();
            return error.isEmpty() ? QStringLiteral("sway 拒绝了命令") : error.left(512);
        }
    }
    return {};
}

} // namespace morvane
