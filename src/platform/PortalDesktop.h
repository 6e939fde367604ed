#pragma once

#include "Desktop.h"

#include <memory>

namespace morvane {

class PortalScreenShot;

// A Wayland desktop that gives a program nothing but the desktop portal's screenshots: GNOME,
// and any other compositor whose portal answers. The whole screen can be had; which window is
// under the pointer, where the pointer is and what it looks like cannot be learned. So a
// request for a window, a control or a container gives no picture, and grabFailure() says so
// in one sentence; a full-screen capture never has the pointer drawn in.
class PortalDesktop final : public Desktop {
public:
    // desktopName names the desktop in what the user reads ("GNOME").
    explicit PortalDesktop(QString desktopName);
    ~PortalDesktop() override;

    QPoint pointerPosition() override;
    WindowId windowAt(QPoint) override { return 0; }
    WindowId parentOf(WindowId) override { return 0; }
    QByteArray className(WindowId) override { return {}; }
    QByteArray windowText(WindowId) override { return {}; }
    QRect windowRect(WindowId) override { return {}; }
    std::uint32_t windowProcess(WindowId) override { return 0; }
    QList<WindowId> children(WindowId) override { return {}; }
    QSize screenSize() override;
    QRect primaryScreenRect() override;
    QImage grabScreen(const QRect& rect) override;
    std::optional<PointerImage> pointerImage() override { return std::nullopt; }
    QString grabFailure() const override { return grabFailure_; }

    // The part of a picture of the whole desktop (desktopSize in screen pixels) inside rect, at
    // the rectangle's size; black outside the picture.
    static QImage cut(const QImage& desktop, QSize desktopSize, const QRect& rect);

private:
    QString desktopName_;
    std::unique_ptr<PortalScreenShot> portal_;
    QString grabFailure_;
};

} // namespace morvane
