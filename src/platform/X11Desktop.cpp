// X11Desktop's connection: the screen, its monitors, the pointer, and the grab, which
// RootPixels carries out. The window tree and the window properties have rooms of their own
// (X11WindowTree.cpp, X11WindowProperties.cpp).
#include "X11Desktop.h"

#include "ImagePool.h"
#include "XcbReply.h"
#include "common/Log.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace morvane {

X11Desktop::X11Desktop(PixelTransfer transfer) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (const int failure = xcb_connection_has_error(c)) {
        qCWarning(lcMorvane) << "cannot connect to the X display" << qgetenv("DISPLAY")
                             << "(xcb error" << failure << "): no windows or pixels to capture";
        xcb_disconnect(c);
        return;
    }
    const xcb_setup_t* setup = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    if (it.rem <= 0) {
        qCWarning(lcMorvane) << "the X display has no screen" << screenNumber;
        xcb_disconnect(c);
        return;
    }
    connection_ = c;
    root_ = it.data->root;
    rootSize_ = QSize(it.data->width_in_pixels, it.data->height_in_pixels);
    // The root's size is followed through its ConfigureNotify events, read at each grab, so
    // no grab has to ask for it.
    const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &rootEvents);
    rootPixels_.emplace(c, *it.data, transfer == PixelTransfer::SharedMemory);
    // Monitors, and which of them is primary, came with RandR 1.5.
    if (const auto* randr = xcb_get_extension_data(c, &xcb_randr_id); randr && randr->present) {
        const auto version =
            xcbReply(c, xcb_randr_query_version_reply, xcb_randr_query_version(c, 1, 5));
        randrMonitors_ = version && (version->major_version > 1 ||
                                     (version->major_version == 1 && version->minor_version >= 5));
    }
    atomWmState_ = atom("WM_STATE");
    atomNetWmName_ = atom("_NET_WM_NAME");
    atomUtf8String_ = atom("UTF8_STRING");
    atomCompoundText_ = atom("COMPOUND_TEXT");
    atomNetWmPid_ = atom("_NET_WM_PID");
    atomGtkFrameExtents_ = atom("_GTK_FRAME_EXTENTS");
}

X11Desktop::~X11Desktop() {
    rootPixels_.reset(); // its segment is detached on the connection
    if (connection_) {
        xcb_disconnect(connection_);
    }
}

std::uint32_t X11Desktop::atom(const char* name) {
    const auto reply = xcbReply(
        connection_, xcb_intern_atom_reply,
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name));
    return reply ? reply->atom : 0;
}

QPoint X11Desktop::pointerPosition() {
    if (!connection_) {
        return {};
    }
    const auto reply =
        xcbReply(connection_, xcb_query_pointer_reply, xcb_query_pointer(connection_, root_));
    return reply ? QPoint(reply->root_x, reply->root_y) : QPoint();
}

void X11Desktop::readEvents() {
    // Nothing else is selected on this connection; stray errors are dropped.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        if ((event->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            if (configure->window == root_) {
                rootSize_ = QSize(configure->width, configure->height);
            }
        }
        std::free(event);
    }
}

QSize X11Desktop::screenSize() {
    if (!connection_) {
        return {};
    }
    readEvents();
    return rootSize_;
}

QRect X11Desktop::primaryScreenRect() {
    const QRect screen(QPoint(0, 0), screenSize());
    if (!connection_ || !randrMonitors_) {
        return screen;
    }
    const auto monitors = xcbReply(connection_, xcb_randr_get_monitors_reply,
                                   xcb_randr_get_monitors(connection_, root_, 1));
    if (!monitors) {
        return screen;
    }
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
         xcb_randr_monitor_info_next(&it)) {
        if (it.data->primary) {
            const QRect primary =
                QRect(it.data->x, it.data->y, it.data->width, it.data->height).intersected(screen);
            return primary.isEmpty() ? screen : primary;
        }
    }
    return screen; // no monitor is marked primary
}

QImage X11Desktop::grabScreen(const QRect& rect) {
    lastGrabShared_ = false;
    if (!connection_ || rect.isEmpty() || !rootPixels_->readable()) {
        return {};
    }
    const QRect inside = rect.intersected(QRect(QPoint(0, 0), screenSize()));
    if (inside == rect) {
        // Straight from the segment the server wrote, where the rows need no converting.
        QImage lent = rootPixels_->lend(rect);
        if (!lent.isNull()) {
            lastGrabShared_ = true;
            return lent;
        }
    }
    QImage image = pooledImage(rect.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    // GetImage of a rectangle that leaves the root is an error: only the part on the screen
    // is read, and whatever lies outside stays black.
    if (inside != rect) {
        image.fill(0xff000000);
    }
    if (inside.isEmpty()) {
        return image;
    }
    const QPoint at = inside.topLeft() - rect.topLeft();
    if (!rootPixels_->copy(inside, image, at)) {
        return {};
    }
    lastGrabShared_ = rootPixels_->lastCopyShared();
    return image;
}

std::optional<PointerImage> X11Desktop::pointerImage() {
    if (!connection_) {
        return std::nullopt;
    }
    if (!xfixesReady_) {
        const auto* ext = xcb_get_extension_data(connection_, &xcb_xfixes_id);
        if (!ext || !ext->present) {
            return std::nullopt;
        }
        // XFixes answers nothing before the client has said which version it speaks.
        const auto version = xcbReply(connection_, xcb_xfixes_query_version_reply,
                                      xcb_xfixes_query_version(connection_, 4, 0));
        if (!version) {
            return std::nullopt;
        }
        xfixesReady_ = true;
    }
    const auto cursor = xcbReply(connection_, xcb_xfixes_get_cursor_image_reply,
                                 xcb_xfixes_get_cursor_image(connection_));
    if (!cursor || cursor->width == 0 || cursor->height == 0) {
        return std::nullopt;
    }
    const int width = cursor->width;
    const int height = cursor->height;
    if (xcb_xfixes_get_cursor_image_cursor_image_length(cursor.get()) < width * height) {
        return std::nullopt;
    }
    // The words already are premultiplied ARGB, QImage's layout for it.
    const std::uint32_t* argb = xcb_xfixes_get_cursor_image_cursor_image(cursor.get());
    const std::uint32_t* end = argb + std::ptrdiff_t{width} * height;
    if (std::none_of(argb, end, [](std::uint32_t pixel) { return (pixel >> 24) != 0; })) {
        return std::nullopt; // a hidden pointer
    }
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return std::nullopt;
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(image.scanLine(y), argb + std::ptrdiff_t{y} * width,
                    static_cast<std::size_t>(width) * 4);
    }
    return PointerImage{image, QPoint(cursor->xhot, cursor->yhot)};
}

} // namespace morvane
