#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <chrono>
#include <memory>

struct DBusConnection;

namespace morvane {

// How the desktop portal answered one screenshot request.
struct PortalAnswer {
    std::uint32_t response = 2; // 0 taken, 1 refused by the user, 2 failed or refused otherwise
    QString uri;                // where the picture is, when taken
};

// The object the portal answers a request on, for the caller's unique bus name and the
// request's token (":1.42" and "morvane7" give .../request/1_42/morvane7).
QByteArray portalRequestPath(const QByteArray& uniqueName, const QByteArray& token);

// The words for the user when the portal gives no picture.
QString portalRefusal(std::uint32_t response);

// Full-screen pictures through the desktop portal's Screenshot interface
// (org.freedesktop.portal.Screenshot, not interactive), which GNOME and most other Wayland
// desktops answer. The desktop may ask the user once whether the program may take
// screenshots; the answer is the user's, and a refusal is told as such.
//
// The portal writes the picture to a file and names it in its answer. The file is the
// program's to read; it is removed once read, so that captures leave no second copy behind.
//
// Lifetime rule of the wait: capture() blocks the calling thread until the portal answers or
// the deadline passes (the portal's own question to the user is answered in the desktop's
// window, not the program's). It reads only its own private connection to the session bus
// and runs no event loop, so nothing else of the program runs inside it and nothing can
// reach it twice. A request that runs out of time is closed.
class PortalScreenShot {
public:
    ~PortalScreenShot();
    PortalScreenShot(const PortalScreenShot&) = delete;
    PortalScreenShot& operator=(const PortalScreenShot&) = delete;

    // Nothing without a session bus.
    static std::unique_ptr<PortalScreenShot> open(QString* whyNot = nullptr);

    // The whole desktop as the portal gives it, in Format_RGB32; a null image on any failure,
    // and failure() says why.
    QImage capture(std::chrono::milliseconds deadline);
    const QString& failure() const { return failure_; }

private:
    explicit PortalScreenShot(DBusConnection* connection);
    std::optional<PortalAnswer> request(std::chrono::steady_clock::time_point until);
    std::optional<PortalAnswer> awaitAnswer(const QByteArray& path,
                                            std::chrono::steady_clock::time_point until);

    DBusConnection* connection_;
    QString failure_;
    int requests_ = 0;
};

} // namespace morvane
