#include "X11Desktop.h"

#include "ImagePool.h"

#include <QList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace morvane {

namespace {

// Replies and errors from xcb are malloc'ed; this frees them on every path.
template <typename T> struct Reply {
    T* value = nullptr;
    explicit Reply(T* v) : value(v) {}
    ~Reply() { std::free(value); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }
};

template <typename T> Reply<T> checked(T* reply, xcb_generic_error_t* error) {
    std::free(error);
    return Reply<T>(reply);
}

// At most 254 bytes, never ending inside a UTF-8 character.
QByteArray limitUtf8(QByteArray text) {
    constexpr qsizetype kMaxBytes = 254;
    if (text.size() <= kMaxBytes) {
        return text;
    }
    qsizetype cut = kMaxBytes;
    // Back off continuation bytes to the start of the character that does not fit.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return text.left(cut);
}

} // namespace

X11Desktop::X11Desktop() {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    connection_ = c;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    root_ = it.data->root;
    rootSize_ = QSize(it.data->width_in_pixels, it.data->height_in_pixels);
    rootDepth_ = it.data->root_depth;

    const auto* shm = xcb_get_extension_data(c, &xcb_shm_id);
    shmAvailable_ = shm && shm->present;
    atomWmState_ = atom("WM_STATE");
    atomNetWmName_ = atom("_NET_WM_NAME");
    atomUtf8String_ = atom("UTF8_STRING");
}

X11Desktop::~X11Desktop() {
    releaseShm();
    if (connection_) {
        xcb_disconnect(connection_);
    }
}

std::uint32_t X11Desktop::atom(const char* name) {
    xcb_generic_error_t* error = nullptr;
    const auto reply = checked(
        xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            &error),
        error);
    return reply ? reply->atom : 0;
}

QByteArray X11Desktop::property(WindowId window, std::uint32_t prop, std::uint32_t type,
                                std::uint32_t* actualType) {
    if (!connection_ || window == 0 || prop == 0) {
        return {};
    }
    xcb_generic_error_t* error = nullptr;
    const auto reply = checked(
        xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, prop, type, 0, 1024), &error),
        error);
    if (!reply || reply->type == XCB_NONE) {
        return {};
    }
    if (actualType) {
        *actualType = reply->type;
    }
    const int length = xcb_get_property_value_length(reply.value);
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.value)), length);
}

QPoint X11Desktop::pointerPosition() {
    if (!connection_) {
        return {};
    }
    xcb_generic_error_t* error = nullptr;
    const auto reply = checked(
        xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), &error), error);
    return reply ? QPoint(reply->root_x, reply->root_y) : QPoint();
}

QList<WindowId> X11Desktop::childrenOf(WindowId window) {
    QList<WindowId> result;
    xcb_generic_error_t* error = nullptr;
    const auto tree = checked(
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), &error), error);
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.value);
        const int count = xcb_query_tree_children_length(tree.value);
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
    QPoint local = screenPoint; // the point in current's coordinates
    for (int depth = 0; depth < 64; ++depth) {
        const QList<WindowId> children = childrenOf(current);
        // One round trip per level: every question first, then every answer.
        QList<xcb_get_window_attributes_cookie_t> attributes;
        QList<xcb_get_geometry_cookie_t> geometries;
        for (const WindowId child : children) {
            attributes << xcb_get_window_attributes(connection_, child);
            geometries << xcb_get_geometry(connection_, child);
        }
        WindowId found = 0;
        QPoint foundLocal;
        // Children come bottom to top; the first hit from the top wins.
        for (qsizetype i = children.size() - 1; i >= 0; --i) {
            xcb_generic_error_t* error = nullptr;
            const auto attr =
                checked(xcb_get_window_attributes_reply(connection_, attributes[i], &error), error);
            error = nullptr;
            const auto geo =
                checked(xcb_get_geometry_reply(connection_, geometries[i], &error), error);
            if (found || !attr || !geo) {
                continue; // still collect the replies, so none is left waiting
            }
            if (attr->map_state != XCB_MAP_STATE_VIEWABLE ||
                attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
                continue;
            }
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
    xcb_generic_error_t* error = nullptr;
    const auto tree = checked(
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), &error), error);
    if (!tree) {
        return 0;
    }
    if (root) {
        *root = tree->root;
    }
    return tree->parent;
}

bool X11Desktop::hasWmState(WindowId window) {
    return !property(window, atomWmState_, XCB_GET_PROPERTY_TYPE_ANY).isEmpty();
}

// The client a window manager's frame holds: the nearest descendant with WM_STATE.
WindowId X11Desktop::clientBelow(WindowId window, int depth) {
    if (depth > 8) {
        return 0;
    }
    const QList<WindowId> children = childrenOf(window);
    for (const WindowId child : children) {
        if (hasWmState(child)) {
            return child;
        }
    }
    for (const WindowId child : children) {
        if (const WindowId client = clientBelow(child, depth + 1)) {
            return client;
        }
    }
    return 0;
}

WindowId X11Desktop::answeringWindow(WindowId window) {
    if (!connection_ || window == 0 || window == root_) {
        return window;
    }
    // Walk up to the top-level window that holds this one, remembering the way.
    QList<WindowId> path{window};
    WindowId current = window;
    for (int depth = 0; depth < 64; ++depth) {
        WindowId root = 0;
        const WindowId parent = parentInTree(current, &root);
        if (parent == 0) {
            return window; // gone
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
    const WindowId client = hasWmState(window) ? window : clientBelow(window);
    if (client == 0) {
        return 0;
    }
    const QByteArray owner = property(client, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
    if (owner.size() < 4) {
        return 0;
    }
    WindowId result = 0;
    std::memcpy(&result, owner.constData(), sizeof result);
    return result == root ? 0 : result;
}

QByteArray X11Desktop::className(WindowId window) {
    const QByteArray wmClass =
        property(answeringWindow(window), XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    // instance NUL class NUL
    const qsizetype split = wmClass.indexOf('\0');
    if (split < 0) {
        return {};
    }
    QByteArray cls = wmClass.mid(split + 1);
    const qsizetype end = cls.indexOf('\0');
    return end < 0 ? cls : cls.left(end);
}

QByteArray X11Desktop::windowText(WindowId window) {
    const WindowId answering = answeringWindow(window);
    QByteArray text = property(answering, atomNetWmName_, atomUtf8String_);
    if (text.isEmpty()) {
        std::uint32_t type = 0;
        text = property(answering, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, &type);
        if (type == XCB_ATOM_STRING) {
            text = QString::fromLatin1(text).toUtf8();
        }
    }
    return limitUtf8(text);
}

QRect X11Desktop::windowRect(WindowId window) {
    if (!connection_ || window == 0) {
        return {};
    }
    xcb_generic_error_t* error = nullptr;
    const auto geo = checked(
        xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), &error), error);
    if (!geo) {
        return {};
    }
    error = nullptr;
    const auto where = checked(
        xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), &error),
        error);
    if (!where) {
        return {};
    }
    const int border = geo->border_width;
    return QRect(where->dst_x - border, where->dst_y - border, geo->width + 2 * border,
                 geo->height + 2 * border);
}

QList<WindowId> X11Desktop::children(WindowId window) {
    if (!connection_ || window == 0) {
        return {};
    }
    QList<WindowId> result = childrenOf(window); // bottom first, as the server lists them
    std::reverse(result.begin(), result.end());
    return result;
}

QSize X11Desktop::screenSize() {
    return rootSize_;
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
        static_cast<std::size_t>(area.width()) * static_cast<std::size_t>(area.height()) * 4;
    if (needed > shmSize_) {
        releaseShm();
        const int id = shmget(IPC_PRIVATE, needed, IPC_CREAT | 0600);
        if (id < 0) {
            return false;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            return false;
        }
        shmSegment_ = xcb_generate_id(connection_);
        const xcb_void_cookie_t cookie =
            xcb_shm_attach_checked(connection_, shmSegment_, static_cast<std::uint32_t>(id), 0);
        xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
        // Marked for removal at once: it goes away when the last user detaches,
        // even if this process dies.
        shmctl(id, IPC_RMID, nullptr);
        if (error) {
            std::free(error);
            shmdt(address);
            shmAvailable_ = false;
            return false;
        }
        shmAddress_ = address;
        shmSize_ = needed;
    }
    xcb_generic_error_t* error = nullptr;
    const auto reply =
        checked(xcb_shm_get_image_reply(
                    connection_,
                    xcb_shm_get_image(connection_, root_, static_cast<std::int16_t>(area.x()),
                                      static_cast<std::int16_t>(area.y()),
                                      static_cast<std::uint16_t>(area.width()),
                                      static_cast<std::uint16_t>(area.height()), ~0u,
                                      XCB_IMAGE_FORMAT_Z_PIXMAP, shmSegment_, 0),
                    &error),
                error);
    if (!reply || reply->depth < 24) {
        return false;
    }
    const auto* source = static_cast<const uchar*>(shmAddress_);
    const auto rowBytes = static_cast<std::size_t>(area.width()) * 4;
    for (int y = 0; y < area.height(); ++y) {
        std::memcpy(into.scanLine(at.y() + y) + at.x() * 4,
                    source + rowBytes * static_cast<std::size_t>(y), rowBytes);
    }
    return true;
}

bool X11Desktop::copyRowsPlain(const QRect& area, QImage& into, QPoint at) {
    // A full image may not fit one request; take it in bands.
    const int bandRows =
        std::max(1, static_cast<int>((1u << 20) / (static_cast<unsigned>(area.width()) * 4)));
    for (int top = 0; top < area.height(); top += bandRows) {
        const int rows = std::min(bandRows, area.height() - top);
        xcb_generic_error_t* error = nullptr;
        const auto reply =
            checked(xcb_get_image_reply(connection_,
                                        xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_,
                                                      static_cast<std::int16_t>(area.x()),
                                                      static_cast<std::int16_t>(area.y() + top),
                                                      static_cast<std::uint16_t>(area.width()),
                                                      static_cast<std::uint16_t>(rows), ~0u),
                                        &error),
                    error);
        if (!reply || reply->depth < 24 ||
            xcb_get_image_data_length(reply.value) < area.width() * rows * 4) {
            return false;
        }
        const uint8_t* source = xcb_get_image_data(reply.value);
        const auto rowBytes = static_cast<std::size_t>(area.width()) * 4;
        for (int y = 0; y < rows; ++y) {
            std::memcpy(into.scanLine(at.y() + top + y) + at.x() * 4,
                        source + rowBytes * static_cast<std::size_t>(y), rowBytes);
        }
    }
    return true;
}

QImage X11Desktop::grabScreen(const QRect& rect) {
    if (!connection_ || rect.isEmpty() || rootDepth_ < 24) {
        return {};
    }
    QImage image = pooledImage(rect.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    const QRect inside = rect.intersected(QRect(QPoint(0, 0), rootSize_));
    if (inside != rect) {
        image.fill(0xff000000); // what lies outside the screen stays black
    }
    if (inside.isEmpty()) {
        return image;
    }
    const QPoint at = inside.topLeft() - rect.topLeft();
    if (!(shmAvailable_ && copyRowsShm(inside, image, at)) && !copyRowsPlain(inside, image, at)) {
        return {};
    }
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
        xcb_generic_error_t* error = nullptr;
        const auto version =
            checked(xcb_xfixes_query_version_reply(
                        connection_, xcb_xfixes_query_version(connection_, 4, 0), &error),
                    error);
        if (!version) {
            return std::nullopt;
        }
        xfixesReady_ = true;
    }
    xcb_generic_error_t* error = nullptr;
    const auto cursor = checked(xcb_xfixes_get_cursor_image_reply(
                                    connection_, xcb_xfixes_get_cursor_image(connection_), &error),
                                error);
    if (!cursor || cursor->width == 0 || cursor->height == 0) {
        return std::nullopt;
    }
    const int pixels = cursor->width * cursor->height;
    if (xcb_xfixes_get_cursor_image_cursor_image_length(cursor.value) < pixels) {
        return std::nullopt;
    }
    const std::uint32_t* argb = xcb_xfixes_get_cursor_image_cursor_image(cursor.value);
    bool anyVisible = false;
    QImage image(cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < cursor->height; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < cursor->width; ++x) {
            line[x] = argb[y * cursor->width + x];
            anyVisible = anyVisible || (line[x] >> 24) != 0;
        }
    }
    if (!anyVisible) {
        return std::nullopt; // a hidden pointer
    }
    return PointerImage{image, QPoint(cursor->xhot, cursor->yhot)};
}

} // namespace morvane
