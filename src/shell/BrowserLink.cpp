#include "BrowserLink.h"

#include "webcapture/PageCapture.h"

#include <QJsonDocument>
#include <QPointer>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace morvane {

namespace {

// Longer than any message but a picture's pixels: an address, a folder and an outcome.
constexpr qsizetype kMaxLine = 1 << 20;
constexpr std::size_t kReadSize = 1 << 20;

} // namespace

std::vector<LinkMessage> LinkReader::feed(const char* data, qsizetype size) {
    std::vector<LinkMessage> done;
    while (size > 0 && !broken_) {
        if (picture_) {
            const qsizetype want = picture_->picture.sizeInBytes() - filled_;
            const qsizetype take = std::min(want, size);
            std::memcpy(picture_->picture.bits() + filled_, data, static_cast<size_t>(take));
            filled_ += take;
            data += take;
            size -= take;
            if (filled_ == picture_->picture.sizeInBytes()) {
                done.push_back(std::move(*picture_));
                picture_.reset();
            }
            continue;
        }
        const char* end =
            static_cast<const char*>(std::memchr(data, '\n', static_cast<size_t>(size)));
        const qsizetype take = end ? end - data + 1 : size;
        line_.append(data, take);
        data += take;
        size -= take;
        if (line_.size() > kMaxLine) {
            broken_ = true;
            break;
        }
        if (!end) {
            break;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line_, &error);
        line_.clear();
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            broken_ = true;
            break;
        }
        const QJsonObject json = document.object();
        if (!json.contains(QStringLiteral("picture"))) {
            done.push_back({json, {}});
        } else if (!startPicture(json)) {
            broken_ = true;
        }
    }
    return done;
}

bool LinkReader::startPicture(const QJsonObject& header) {
    const QJsonObject size = header.value(QStringLiteral("picture")).toObject();
    const qint64 w = size.value(QStringLiteral("w")).toInteger();
    const qint64 h = size.value(QStringLiteral("h")).toInteger();
    if (w <= 0 || h <= 0 || w * h > kMaxPagePixels) {
        return false;
    }
    QImage picture(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGB32);
    if (picture.isNull()) {
        return false;
    }
    picture_ = LinkMessage{header, std::move(picture)};
    filled_ = 0;
    return true;
}

QByteArray linkLine(const QJsonObject& json) {
    return QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject pictureHeader(const QImage& picture) {
    return {{QStringLiteral("picture"), QJsonObject{{QStringLiteral("w"), picture.width()},
                                                    {QStringLiteral("h"), picture.height()}}}};
}

QJsonObject outcomeMessage(const CaptureOutcome& outcome) {
    return {{QStringLiteral("outcome"),
             QJsonObject{{QStringLiteral("kind"), static_cast<int>(outcome.kind)},
                         {QStringLiteral("path"), outcome.path},
                         {QStringLiteral("reason"), outcome.reason},
                         {QStringLiteral("clipboard"), outcome.onClipboard}}}};
}

std::optional<CaptureOutcome> outcomeOf(const QJsonObject& message) {
    const QJsonValue value = message.value(QStringLiteral("outcome"));
    const int kind = value[QStringLiteral("kind")].toInt(-1);
    if (!value.isObject() || kind < static_cast<int>(CaptureOutcome::Kind::Saved) ||
        kind > static_cast<int>(CaptureOutcome::Kind::Hint)) {
        return std::nullopt;
    }
    return CaptureOutcome{static_cast<CaptureOutcome::Kind>(kind),
                          value[QStringLiteral("path")].toString(),
                          value[QStringLiteral("reason")].toString(),
                          value[QStringLiteral("clipboard")].toBool(true)};
}

BrowserLink::BrowserLink(int fd)
    : fd_(fd), notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readAvailable(); });
}

BrowserLink::~BrowserLink() {
    notifier_.reset();
    ::close(fd_);
}

bool BrowserLink::send(const QJsonObject& json) {
    return write(linkLine(json));
}

bool BrowserLink::sendPicture(const QImage& picture) {
    // A page's image is already RGB32: its rows are sent as they are, never copied.
    const QImage rows = picture.convertToFormat(QImage::Format_RGB32);
    return write(linkLine(pictureHeader(rows))) &&
           write(reinterpret_cast<const char*>(rows.constBits()), rows.sizeInBytes());
}

bool BrowserLink::write(const QByteArray& bytes) {
    return write(bytes.constData(), bytes.size());
}

bool BrowserLink::write(const char* data, qsizetype size) {
    qsizetype sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd_, data + sent, static_cast<size_t>(size - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += n;
    }
    return true;
}

void BrowserLink::drain() {
    const QPointer<BrowserLink> self(this);
    while (self && notifier_->isEnabled() && readAvailable()) {
    }
}

bool BrowserLink::readAvailable() {
    // Large reads: a page's picture is hundreds of MB.
    if (buffer_.empty()) {
        buffer_.resize(kReadSize);
    }
    const ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return errno == EINTR;
    }
    if (n <= 0) {
        notifier_->setEnabled(false);
        emit ended();
        return false;
    }
    // A message's handler may end the link.
    const QPointer<BrowserLink> self(this);
    for (const LinkMessage& message : reader_.feed(buffer_.data(), n)) {
        emit received(message);
        if (!self) {
            return false;
        }
    }
    if (reader_.broken()) {
        notifier_->setEnabled(false);
        emit ended();
        return false;
    }
    return true;
}

} // namespace morvane
