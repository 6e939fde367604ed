#pragma once

#include "capture/CaptureOutcome.h"

#include <QByteArray>
#include <QImage>
#include <QJsonObject>
#include <QObject>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

namespace morvane {

// One message between the program and its browser window's process: a line of compact JSON,
// and for a picture (the line {"picture": {"w": …, "h": …}}) the picture's 32-bit rows after it.
struct LinkMessage {
    QJsonObject json;
    QImage picture;
};

// Takes the bytes of the stream as they come and gives back the messages they complete. The
// pixels of a picture go straight into its image, so a page of 400 MB is held once.
class LinkReader {
public:
    // The messages the bytes complete; nothing more once broken() holds.
    std::vector<LinkMessage> feed(const char* data, qsizetype size);
    // A line longer than any message, a line that is not a JSON object, or a picture of no
    // size, or larger than a page capture may be: the other side is not the program's.
    bool broken() const { return broken_; }

private:
    // Starts the picture a line announces; false when the line announces a bad one.
    bool startPicture(const QJsonObject& header);

    QByteArray line_;
    std::optional<LinkMessage> picture_; // being filled
    qsizetype filled_ = 0;
    bool broken_ = false;
};

// The bytes of a message; a picture's line, which its rows (RGB32) follow.
QByteArray linkLine(const QJsonObject& json);
QJsonObject pictureHeader(const QImage& picture);

// A capture's outcome as a message, and back; nothing from a message that holds none.
QJsonObject outcomeMessage(const CaptureOutcome& outcome);
std::optional<CaptureOutcome> outcomeOf(const QJsonObject& message);

// One end of the socket pair between the two processes. Messages are read as they arrive;
// sending writes the whole message before it returns (the other side reads all the time).
class BrowserLink final : public QObject {
    Q_OBJECT

public:
    // Owns the descriptor and closes it when destroyed.
    explicit BrowserLink(int fd);
    ~BrowserLink() override;
    BrowserLink(const BrowserLink&) = delete;
    BrowserLink& operator=(const BrowserLink&) = delete;

    // False once the other side is gone.
    bool send(const QJsonObject& json);
    bool sendPicture(const QImage& picture);
    // Reads, at once, everything the other side sent that is still waiting: once that side has
    // ended, what it said last is heard before its end is judged.
    void drain();

signals:
    void received(const LinkMessage& message);
    // The other side closed its end, or sent what no copy of the program sends.
    void ended();

private:
    bool write(const QByteArray& bytes);
    bool write(const char* data, qsizetype size);
    // One read; false once nothing more is waiting, or the link has ended.
    bool readAvailable();

    int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    LinkReader reader_;
    std::vector<char> buffer_;
};

} // namespace morvane
