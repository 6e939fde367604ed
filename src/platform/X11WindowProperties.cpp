// X11Desktop's window properties: names, classes, the owning process and WM_STATE.
#include "X11Desktop.h"

#include "CompoundText.h"
#include "XcbReply.h"

#include "WindowText.h"
#include <QString>
#include <algorithm>
#include <array>

#include <cstring>
#include <xcb/xcb.h>

namespace morvane {

namespace {} // namespace

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

} // namespace morvane
