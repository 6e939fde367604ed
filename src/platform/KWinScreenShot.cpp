#include "KWinScreenShot.h"

#include "common/Log.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QVariantMap>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace morvane::kwinScreenShot {

namespace {

constexpr int kReplyTimeoutMs = 5000;
constexpr int kPixelsTimeoutMs = 5000;
// A workspace of 16384 x 16384 at four bytes a pixel; anything larger is not a screenshot.
constexpr qint64 kMaxBytes = qint64(16384) * 16384 * 4;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// Reads exactly size bytes from the pipe, or fails at its end or at the deadline.
bool readAll(int fd, QByteArray& into, qint64 size) {
    into.resize(size);
    qint64 have = 0;
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kPixelsTimeoutMs);
    while (have < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t got = ::read(fd, into.data() + have, std::size_t(size - have));
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        have += got;
    }
    return true;
}

KWinShot capture(const QString& method, const QList<QVariant>& leading) {
    Fd readEnd;
    QDBusMessage reply;
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return {{}, QStringLiteral("无法建立接收截图的管道")};
        }
        readEnd.fd = fds[0];
        Fd writeEnd{fds[1]};
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
            QStringLiteral("org.kde.KWin.ScreenShot2"), method);
        QVariantMap options;
        options.insert(QStringLiteral("include-decoration"), true);
        options.insert(QStringLiteral("include-cursor"), false);
        options.insert(QStringLiteral("native-resolution"), false);
        QList<QVariant> arguments = leading;
        arguments << options << QVariant::fromValue(QDBusUnixFileDescriptor(writeEnd.fd));
        call.setArguments(arguments);
        reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kReplyTimeoutMs);
        // Every copy of the write end closes here, so that a short write ends the read.
    }
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcMorvane) << "KWin screenshot" << method << "refused:" << reply.errorName()
                             << reply.errorMessage();
        return {{}, refusalFor(reply.errorName(), reply.errorMessage())};
    }
    const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().value(0));
    const qint64 width = results.value(QStringLiteral("width")).toLongLong();
    const qint64 height = results.value(QStringLiteral("height")).toLongLong();
    const qint64 stride = results.value(QStringLiteral("stride")).toLongLong();
    const int format = results.value(QStringLiteral("format")).toInt();
    if (results.value(QStringLiteral("type")).toString() != QLatin1String("raw") || width <= 0 ||
        height <= 0 || stride < width * 4 || stride * height > kMaxBytes || format <= 0 ||
        format >= QImage::NImageFormats) {
        qCWarning(lcMorvane) << "KWin screenshot: unreadable answer" << results;
        return {{}, QStringLiteral("KWin 的截图无法读取")};
    }
    QByteArray pixels;
    if (!readAll(readEnd.fd, pixels, stride * height)) {
        qCWarning(lcMorvane) << "KWin screenshot: pixels did not arrive";
        return {{}, QStringLiteral("KWin 没有送来截图的像素")};
    }
    const QImage view(reinterpret_cast<const uchar*>(pixels.constData()), int(width), int(height),
                      stride, QImage::Format(format));
    return {view.convertToFormat(QImage::Format_RGB32), {}};
}

} // namespace

QString refusalFor(const QString& errorName, const QString& errorMessage) {
    if (errorName.endsWith(QLatin1String(".NoAuthorized"))) {
        return QStringLiteral("KWin 不允许本程序截屏。KWin 只为桌面文件中写有 "
                              "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2、"
                              "且 Exec= 为程序完整路径（%1）的程序截屏：请安装 Morvane，"
                              "或为此程序建立这样的桌面文件后运行 kbuildsycoca5。")
            .arg(QCoreApplication::applicationFilePath());
    }
    if (errorName.endsWith(QLatin1String(".Cancelled"))) {
        return QStringLiteral("截屏已被取消");
    }
    if (errorName.endsWith(QLatin1String(".InvalidWindow"))) {
        return QStringLiteral("要抓取的窗口已经不在了");
    }
    if (errorName == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.UnknownObject") ||
        errorName == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
        return QStringLiteral("KWin 没有提供截屏接口");
    }
    return QStringLiteral("KWin 拒绝了截屏请求（%1）").arg(errorMessage);
}

KWinShot area(QRect rect) {
    return capture(QStringLiteral("CaptureArea"),
                   {rect.x(), rect.y(), uint(rect.width()), uint(rect.height())});
}

KWinShot window(const QString& internalId) {
    return capture(QStringLiteral("CaptureWindow"), {internalId});
}

} // namespace morvane::kwinScreenShot
