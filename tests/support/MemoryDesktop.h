#pragma once

#include "platform/Desktop.h"

#include <QList>
#include <map>

namespace morvane {

// A desktop held in memory: a scripted tree of windows over a framebuffer, with a pointer.
// It answers as the X11 desktop does, so that capture logic can be tested without a display.
// Windows added later lie above their earlier siblings.
class MemoryDesktop final : public Desktop {
public:
    struct Window {
        WindowId parent = 0; // 0: a top-level window
        QRect rect;          // outer rectangle in screen pixels
        QByteArray title;
        QByteArray className;
        WindowId transientFor = 0;
        bool viewable = true;
        bool inputOnly = false;
        std::uint32_t process = 0;
    };

    explicit MemoryDesktop(QSize screen = QSize(1920, 1080));

    // Adds a window and paints its rectangle into the framebuffer in the colour, if one is
    // given; returns its id (ids start at 2; 1 is the root).
    WindowId add(const Window& window, QRgb colour = 0);
    void remove(WindowId window);
    // The stored window, to change it after adding (say, to link owners in a loop).
    Window& window(WindowId id) { return windows_.at(id); }
    void setPointer(QPoint position) { pointer_ = position; }
    void setPointerImage(std::optional<PointerImage> image) { pointerImage_ = std::move(image); }
    QImage& framebuffer() { return framebuffer_; }
    // Marks a part of the framebuffer as the primary monitor; by default there is none.
    void setPrimary(QRect rect) { primary_ = rect; }
    int pointerImageRequests() const { return pointerImageRequests_; }

    static constexpr WindowId kRoot = 1;

    QPoint pointerPosition() override { return pointer_; }
    WindowId windowAt(QPoint screenPoint) override;
    WindowId parentOf(WindowId window) override;
    QByteArray className(WindowId window) override;
    QByteArray windowText(WindowId window) override;
    QRect windowRect(WindowId window) override;
    std::uint32_t windowProcess(WindowId window) override;
    QList<WindowId> children(WindowId window) override;
    QSize screenSize() override { return framebuffer_.size(); }
    QRect primaryScreenRect() override {
        return primary_.isEmpty() ? framebuffer_.rect() : primary_;
    }
    QImage grabScreen(const QRect& rect) override;
    std::optional<PointerImage> pointerImage() override;

private:
    const Window* find(WindowId window) const;
    QList<WindowId> childrenOf(WindowId parent) const;

    std::map<WindowId, Window> windows_;
    WindowId nextId_ = 2;
    QImage framebuffer_;
    QPoint pointer_;
    QRect primary_;
    std::optional<PointerImage> pointerImage_;
    int pointerImageRequests_ = 0;
};

} // namespace morvane
