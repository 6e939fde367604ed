#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>
#include <optional>

namespace morvane {

// An X window id; 0 means none.
using WindowId = std::uint32_t;

// The pointer's current image: premultiplied ARGB (QImage::Format_ARGB32_Premultiplied)
// and the hotspot, in pixels from the image's top-left corner.
struct PointerImage {
    QImage image;
    QPoint hotspot;
};

// What the capture engine asks of the desktop that Qt does not answer. Screen coordinates
// are root-window pixels. A window that vanishes between two questions gives empty
// answers (0, empty text, an empty rectangle); no question ever throws or aborts.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Where the pointer is, in screen pixels.
    virtual QPoint pointerPosition() = 0;

    // The deepest mapped, viewable InputOutput window that contains the point, found by
    // descending from the root through each level's children from the top of the
    // stacking order down. The root itself when no child holds the point.
    virtual WindowId windowAt(QPoint screenPoint) = 0;

    // The X parent unless that is the root. For a top-level window (a child of the root),
    // its owner: the window named by WM_TRANSIENT_FOR of the client it holds. Else 0.
    virtual WindowId parentOf(WindowId window) = 0;

    // The class part of WM_CLASS. A window of the window manager (a frame, or one of its
    // decoration windows such as the title bar) answers with the class of the client the
    // frame holds.
    virtual QByteArray className(WindowId window) = 0;

    // _NET_WM_NAME (UTF-8), else WM_NAME, of the window itself, at most 254 bytes and never
    // cut inside a UTF-8 character; an unnamed child window has empty text. A window of the
    // window manager answers with its client's title.
    virtual QByteArray windowText(WindowId window) = 0;

    // The window's outer rectangle, border included, in screen pixels.
    virtual QRect windowRect(WindowId window) = 0;

    // The process that owns the window: the one its own or its nearest ancestor's
    // _NET_WM_PID names. 0 when none says.
    virtual std::uint32_t windowProcess(WindowId window) = 0;

    // The margin a window's own client-side decoration (its shadow) leaves around what the
    // application counts as the window, as _GTK_FRAME_EXTENTS gives it; none when it says
    // nothing.
    virtual QMargins decorationMargins(WindowId /*window*/) { return {}; }

    // The window's direct children, the top of the stacking order first.
    virtual QList<WindowId> children(WindowId window) = 0;

    // The whole screen's size in pixels (the root window: every monitor together).
    virtual QSize screenSize() = 0;

    // The primary monitor's rectangle on the screen, in pixels; its origin need not be
    // (0, 0). The whole screen where the display names no primary monitor.
    virtual QRect primaryScreenRect() = 0;

    // The screen's pixels inside the rectangle, as QImage::Format_RGB32 of the rectangle's
    // full size: whatever lies outside the screen stays black. A null image when the
    // rectangle is empty or the pixels cannot be had.
    virtual QImage grabScreen(const QRect& rect) = 0;

    // The pointer's image now, or nothing when it is hidden or cannot be read.
    virtual std::optional<PointerImage> pointerImage() = 0;

    // The window's pixels inside rect (its outer rectangle cut to the screen), as
    // grabScreen gives them. A desktop that can read a window's own pixels gives those,
    // whatever covers it; by default, the screen inside the rectangle.
    virtual QImage grabWindow(WindowId /*window*/, const QRect& rect) { return grabScreen(rect); }

    // Why the last grab gave a null image, in words for the user; empty when the desktop
    // has nothing better to say than that the screen could not be read.
    virtual QString grabFailure() const { return {}; }

    // Where the window's toolkit puts the origin of the extents it reports to the
    // accessibility bus as screen coordinates, on desktops where applications do not know
    // where their windows are (Wayland): the application's own surface. Nothing where the
    // extents are real screen coordinates.
    virtual std::optional<QPoint> accessibleOrigin(WindowId /*window*/) { return std::nullopt; }
};

} // namespace morvane
