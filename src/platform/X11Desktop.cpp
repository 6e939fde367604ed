#include "X11Desktop.h"

#include "CompoundText.h"
#include "ImagePool.h"
#include "XcbReply.h"
#include "common/Log.h"

#include <QList>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace morvane {

namespace {

// No real window tree is this deep; the bound only stops a walk on a tree that changes
// under it.
constexpr int kMaxDepth = 64;

// At most 254 bytes, never ending inside a UTF-8 character.
QByteArray limitUtf8(QByteArray text) {
    constexpr qsizetype kMaxBytes = 254;
    if (text.size() <= kMaxBytes) {
        return text;
    }
    const auto continues = [&text](qsizetype i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    // text[cut] is the first byte that does not fit; if it continues a character, that
    // character started at most three bytes earlier and goes too. Bytes that are not UTF-8
    // at all are cut at the limit.
    qsizetype cut = kMaxBytes;
    while (cut > kMaxBytes - 3 && continues(cut)) {
        --cut;
    }
    text.truncate(continues(cut) ? kMaxBytes : cut);
    return text;
}

// How the root's pixels come in ZPixmap images: the pixmap format of the root's depth and
// the masks of its visual. Bits per pixel 0 (which no converter reads) when the root's
// visual is not TrueColor.
PixelLayout rootPixelLayout(const xcb_setup_t* setup, const xcb_screen_t* screen) {
    PixelLayout layout;
    layout.mostSignificantByteFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
    for (auto format = xcb_setup_pixmap_formats_iterator(setup); format.rem;
         xcb_format_next(&format)) {
        if (format.data->depth == screen->root_depth) {
            layout.bitsPerPixel = format.data->bits_per_pixel;
            layout.scanlinePad = format.data->scanline_pad;
        }
    }
    for (auto depth = xcb_screen_allowed_depths_iterator(screen); depth.rem;
         xcb_depth_next(&depth)) {
        for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
             xcb_visualtype_next(&visual)) {
            if (visual.data->visual_id == screen->root_visual) {
                if (visual.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR) {
                    layout.bitsPerPixel = 0;
                }
                layout.redMask = visual.data->red_mask;
                layout.greenMask = visual.data->green_mask;
                layout.blueMask = visual.data->blue_mask;
            }
        }
    }
    return layout;
}

} // namespace

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
    const PixelLayout layout = rootPixelLayout(setup, it.data);
    pixels_ = PixelConverter(layout);
    if (!pixels_.isValid()) {
        qCWarning(lcMorvane) << "the screen's pixels cannot be read: depth" << it.data->root_depth
                             << "with" << layout.bitsPerPixel
                             << "bits per pixel is not a TrueColor layout this program knows";
    }

    if (transfer == PixelTransfer::SharedMemory) {
        const auto* shm = xcb_get_extension_data(c, &xcb_shm_id);
        shmAvailable_ = shm && shm->present;
    }
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
    releaseShm();
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

QByteArray X11Desktop::property(WindowId window, std::uint32_t prop, std::uint32_t type,
                                std::uint32_t* actualType) {
    if (!connection_ || window == 0 || prop == 0) {
        return {};
    }
    // 1024 words hold any name worth showing; longer ones are cut to 254 bytes anyway.
    const auto reply = xcbReply(connection_, xcb_get_property_reply,
                                xcb_get_property(connection_, 0, window, prop, type, 0, 1024));
    if (!reply || reply->type == XCB_NONE) {
        return {};
    }
    if (actualType) {
        *actualType = reply->type;
    }
    const int length = xcb_get_property_value_length(reply.get());
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}

QPoint X11Desktop::pointerPosition() {
    if (!connection_) {
        return {};
    }
    const auto reply =
        xcbReply(connection_, xcb_query_pointer_reply, xcb_query_pointer(connection_, root_));
    return reply ? QPoint(reply->root_x, reply->root_y) : QPoint();
}

// The window's children as the server lists them: the bottom of the stacking order first.
QList<WindowId> X11Desktop::childrenOf(WindowId window) {
    QList<WindowId> result;
    if (!connection_ || window == 0) {
        return result;
    }
    const auto tree =
        xcbReply(connection_, xcb_query_tree_reply, xcb_query_tree(connection_, window));
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        result.reserve(count);
        for (int i = 0; i < count; ++i) {
            result << children[i];
        }
    }
    return result;
}

WindowId X11Desktop::windowAt(QPoint screenPoint) {
    if (!connection_) {
        return 0;
    }
    WindowId current = root_;
    QPoint local = screenPoint; // the point in the coordinates of current's inside
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const QList<WindowId> children = childrenOf(current);
        // One round trip per level: every question first, then every answer.
        QList<xcb_get_window_attributes_cookie_t> attributes;
        QList<xcb_get_geometry_cookie_t> geometries;
        attributes.reserve(children.size());
        geometries.reserve(children.size());
        for (const WindowId child : children) {
            attributes << xcb_get_window_attributes(connection_, child);
            geometries << xcb_get_geometry(connection_, child);
        }
        WindowId found = 0;
        QPoint foundLocal;
        // Children come bottom to top; the first hit from the top wins.
        for (qsizetype i = children.size() - 1; i >= 0; --i) {
            const auto attr = xcbReply(connection_, xcb_get_window_attributes_reply, attributes[i]);
            const auto geo = xcbReply(connection_, xcb_get_geometry_reply, geometries[i]);
            if (found || !attr || !geo) {
                continue; // every reply is still collected, so none is left queued
            }
            if (attr->map_state != XCB_MAP_STATE_VIEWABLE ||
                attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
                continue;
            }
            // A child's position is that of its border's outer corner.
            const int border = geo->border_width;
            const QRect outer(geo->x, geo->y, geo->width + 2 * border, geo->height + 2 * border);
            if (outer.contains(local)) {
                found = children[i];
                foundLocal = local - QPoint(geo->x + border, geo->y + border);
            }
        }
        if (!found) {
            break;
        }
        current = found;
        local = foundLocal;
    }
    return current;
}

WindowId X11Desktop::parentInTree(WindowId window, WindowId* root) {
    if (!connection_ || window == 0) {
        return 0;
    }
    const auto tree =
        xcbReply(connection_, xcb_query_tree_reply, xcb_query_tree(connection_, window));
    if (!tree) {
        return 0;
    }
    if (root) {
        *root = tree->root;
    }
    return tree->parent;
}

std::uint32_t X11Desktop::windowProcess(WindowId window) {
    // Bounds the climb, as any walk along links another program controls.
    constexpr int kMaxClimb = 64;
    for (int step = 0; step < kMaxClimb && window != 0; ++step) {
        const QByteArray pid = property(window, atomNetWmPid_, XCB_ATOM_CARDINAL);
        if (pid.size() == 4) {
            std::uint32_t value = 0;
            std::memcpy(&value, pid.constData(), sizeof value);
            return value;
        }
        WindowId root = 0;
        const WindowId parent = parentInTree(window, &root);
        if (parent == root) {
            break;
        }
        window = parent;
    }
    return 0;
}

QMargins X11Desktop::decorationMargins(WindowId window) {
    // Left, right, top and bottom, as 32-bit numbers; a margin past a quarter of the largest
    // window X allows is no decoration's.
    const QByteArray data = property(window, atomGtkFrameExtents_, XCB_ATOM_CARDINAL);
    if (data.size() != 16) {
        return {};
    }
    std::array<std::uint32_t, 4> sides{};
    std::memcpy(sides.data(), data.constData(), sizeof sides);
    if (std::any_of(sides.begin(), sides.end(), [](std::uint32_t side) { return side > 8192; })) {
        return {};
    }
    return QMargins(int(sides[0]), int(sides[2]), int(sides[1]), int(sides[3]));
}

bool X11Desktop::hasWmState(WindowId window) {
    if (!connection_ || window == 0) {
        return false;
    }
    // Only whether the property exists matters: none of its data is asked for.
    const auto reply = xcbReply(
        connection_, xcb_get_property_reply,
        xcb_get_property(connection_, 0, window, atomWmState_, XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
    return reply && reply->type != XCB_NONE;
}

// The client a window manager's frame holds: the shallowest descendant with WM_STATE (the
// topmost of its level when several have it). Each level below the frame costs one round
// trip: the WM_STATE and the children of all its windows are asked for together. A frame
// holds dozens of decoration windows, so asking window by window would cost dozens.
WindowId X11Desktop::clientBelow(WindowId window) {
    QList<WindowId> level = childrenOf(window);
    for (int depth = 0; depth < kMaxDepth && !level.isEmpty(); ++depth) {
        QList<xcb_get_property_cookie_t> states;
        QList<xcb_query_tree_cookie_t> trees;
        states.reserve(level.size());
        trees.reserve(level.size());
        for (const WindowId w : level) {
            states << xcb_get_property(connection_, 0, w, atomWmState_, XCB_GET_PROPERTY_TYPE_ANY,
                                       0, 0);
            trees << xcb_query_tree(connection_, w);
        }
        WindowId client = 0;
        QList<WindowId> next;
        for (qsizetype i = level.size() - 1; i >= 0; --i) {
            const auto state = xcbReply(connection_, xcb_get_property_reply, states[i]);
            const auto tree = xcbReply(connection_, xcb_query_tree_reply, trees[i]);
            if (client == 0 && state && state->type != XCB_NONE) {
                client = level[i];
            }
            if (tree) {
                const xcb_window_t* children = xcb_query_tree_children(tree.get());
                next.append(QList<WindowId>(children,
                                            children + xcb_query_tree_children_length(tree.get())));
            }
        }
        if (client) {
            return client;
        }
        level = std::move(next);
    }
    return 0;
}

// The window whose name and class a window gives: its client's for a frame or decoration
// window of the window manager, its own for every other.
WindowId X11Desktop::answeringWindow(WindowId window) {
    if (!connection_ || window == 0 || window == root_) {
        return window;
    }
    // Walk up to the top-level window that holds this one, remembering the way.
    QList<WindowId> path{window};
    WindowId current = window;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        WindowId root = 0;
        const WindowId parent = parentInTree(current, &root);
        if (parent == 0) {
            return window; // gone: it answers for itself, which is emptiness
        }
        if (parent == root) {
            break;
        }
        current = parent;
        path << current;
    }
    const WindowId topLevel = current;
    if (hasWmState(topLevel)) {
        return window; // a client without a frame: everything in it is its own
    }
    const WindowId client = clientBelow(topLevel);
    if (client == 0 || path.contains(client)) {
        return window; // no client, or the window is the client or inside it
    }
    return client; // a frame or a decoration window of the window manager
}

WindowId X11Desktop::parentOf(WindowId window) {
    if (!connection_ || window == 0) {
        return 0;
    }
    WindowId root = 0;
    const WindowId parent = parentInTree(window, &root);
    if (parent == 0) {
        return 0;
    }
    if (parent != root) {
        return parent;
    }
    // A top-level window: its owner is named by the client it is or holds.
    const WindowId client = hasWmState(window) ? window : clientBelow(window);
    if (client == 0) {
        return 0;
    }
    const QByteArray owner = property(client, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
    if (owner.size() < static_cast<qsizetype>(sizeof(WindowId))) {
        return 0;
    }
    WindowId result = 0;
    std::memcpy(&result, owner.constData(), sizeof result);
    return result == root ? 0 : result;
}

QByteArray X11Desktop::className(WindowId window) {
    // Any type: WM_CLASS should be STRING, but some programs write it as UTF8_STRING.
    const QByteArray wmClass =
        property(answeringWindow(window), XCB_ATOM_WM_CLASS, XCB_GET_PROPERTY_TYPE_ANY);
    // "instance\0class\0"
    const qsizetype split = wmClass.indexOf('\0');
    if (split < 0) {
        return {};
    }
    const qsizetype end = wmClass.indexOf('\0', split + 1);
    return wmClass.mid(split + 1, end < 0 ? -1 : end - split - 1);
}

QByteArray X11Desktop::windowText(WindowId window) {
    const WindowId answering = answeringWindow(window);
    QByteArray text = property(answering, atomNetWmName_, atomUtf8String_);
    if (text.isEmpty()) {
        std::uint32_t type = XCB_NONE;
        text = property(answering, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, &type);
        // STRING is Latin-1; COMPOUND_TEXT switches between charsets by escape sequences;
        // UTF8_STRING (and any other type) is taken as it is.
        if (type == XCB_ATOM_STRING) {
            text = QString::fromLatin1(text).toUtf8();
        } else if (type == atomCompoundText_) {
            text = compoundTextToUtf8(text);
        }
    }
    return limitUtf8(std::move(text));
}

QRect X11Desktop::windowRect(WindowId window) {
    if (!connection_ || window == 0) {
        return {};
    }
    // Both questions in one round trip.
    const xcb_get_geometry_cookie_t geoCookie = xcb_get_geometry(connection_, window);
    const xcb_translate_coordinates_cookie_t whereCookie =
        xcb_translate_coordinates(connection_, window, root_, 0, 0);
    const auto geo = xcbReply(connection_, xcb_get_geometry_reply, geoCookie);
    const auto where = xcbReply(connection_, xcb_translate_coordinates_reply, whereCookie);
    if (!geo || !where) {
        return {};
    }
    // The translation gives the inside's corner; the border lies around it.
    const int border = geo->border_width;
    return QRect(where->dst_x - border, where->dst_y - border, geo->width + 2 * border,
                 geo->height + 2 * border);
}

QList<WindowId> X11Desktop::children(WindowId window) {
    QList<WindowId> result = childrenOf(window);
    std::reverse(result.begin(), result.end());
    return result;
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

void X11Desktop::releaseShm() {
    if (shmAddress_) {
        if (connection_) {
            xcb_shm_detach(connection_, shmSegment_);
            xcb_flush(connection_);
        }
        shmdt(shmAddress_);
    }
    shmAddress_ = nullptr;
    shmSize_ = 0;
}

bool X11Desktop::copyRowsShm(const QRect& area, QImage& into, QPoint at) {
    const std::size_t needed =
        pixels_.bytesPerRow(area.width()) * static_cast<std::size_t>(area.height());
    if (needed > shmSize_) {
        // One segment serves every grab; it grows to the largest asked for.
        releaseShm();
        const int id = shmget(IPC_PRIVATE, needed, IPC_CREAT | 0600);
        if (id < 0) {
            return false;
        }
        void* address = shmat(id, nullptr, 0);
        // shmat reports failure as the address (void*)-1.
        if (reinterpret_cast<std::intptr_t>(address) == -1) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        const std::uint32_t segment = xcb_generate_id(connection_);
        const XcbOwned<xcb_generic_error_t> error(xcb_request_check(
            connection_,
            xcb_shm_attach_checked(connection_, segment, static_cast<std::uint32_t>(id), 0)));
        // Marked for removal at once: the system frees it when the last user detaches, even
        // if this process dies.
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            // The server cannot reach this machine's memory (a remote display): stop trying.
            shmdt(address);
            shmAvailable_ = false;
            return false;
        }
        shmSegment_ = segment;
        shmAddress_ = address;
        shmSize_ = needed;
    }
    const auto reply =
        xcbReply(connection_, xcb_shm_get_image_reply,
                 xcb_shm_get_image(connection_, root_, static_cast<std::int16_t>(area.x()),
                                   static_cast<std::int16_t>(area.y()),
                                   static_cast<std::uint16_t>(area.width()),
                                   static_cast<std::uint16_t>(area.height()), ~0u,
                                   XCB_IMAGE_FORMAT_Z_PIXMAP, shmSegment_, 0));
    if (!reply || reply->size < needed) {
        return false;
    }
    pixels_.convert(static_cast<const std::uint8_t*>(shmAddress_), area.width(), area.height(),
                    into, at);
    return true;
}

bool X11Desktop::copyRowsPlain(const QRect& area, QImage& into, QPoint at) {
    // Bands of about 4 MiB keep each reply modest; all are asked for before the first
    // answer is read, so together they cost one round trip.
    const std::size_t rowBytes = pixels_.bytesPerRow(area.width());
    const int bandRows = std::max(1, static_cast<int>((std::size_t{4} << 20) / rowBytes));
    QList<xcb_get_image_cookie_t> cookies;
    for (int top = 0; top < area.height(); top += bandRows) {
        const int rows = std::min(bandRows, area.height() - top);
        cookies << xcb_get_image(
            connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(area.x()),
            static_cast<std::int16_t>(area.y() + top), static_cast<std::uint16_t>(area.width()),
            static_cast<std::uint16_t>(rows), ~0u);
    }
    bool complete = true;
    for (qsizetype band = 0; band < cookies.size(); ++band) {
        const int top = static_cast<int>(band) * bandRows;
        const int rows = std::min(bandRows, area.height() - top);
        const auto reply = xcbReply(connection_, xcb_get_image_reply, cookies[band]);
        if (!complete || !reply ||
            static_cast<std::size_t>(xcb_get_image_data_length(reply.get())) <
                rowBytes * static_cast<std::size_t>(rows)) {
            complete = false; // the remaining replies are still collected
            continue;
        }
        pixels_.convert(xcb_get_image_data(reply.get()), area.width(), rows, into,
                        at + QPoint(0, top));
    }
    return complete;
}

QImage X11Desktop::grabScreen(const QRect& rect) {
    lastGrabShared_ = false;
    if (!connection_ || rect.isEmpty() || !pixels_.isValid()) {
        return {};
    }
    QImage image = pooledImage(rect.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    // GetImage of a rectangle that leaves the root is an error: only the part on the screen
    // is read, and whatever lies outside stays black.
    const QRect inside = rect.intersected(QRect(QPoint(0, 0), screenSize()));
    if (inside != rect) {
        image.fill(0xff000000);
    }
    if (inside.isEmpty()) {
        return image;
    }
    const QPoint at = inside.topLeft() - rect.topLeft();
    if (shmAvailable_ && copyRowsShm(inside, image, at)) {
        lastGrabShared_ = true;
        return image;
    }
    return copyRowsPlain(inside, image, at) ? image : QImage();
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
