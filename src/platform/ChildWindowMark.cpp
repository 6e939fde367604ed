#include "ChildWindowMark.h"

#include <QGuiApplication>
#include <xcb/xcb.h>

namespace morvane {

void ChildWindowMark::place(WindowId topLevel, const QRect& rect) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || topLevel == 0) {
        return;
    }
    xcb_connection_t* connection = x11->connection();
    const QRect area(rect.topLeft(), rect.size().expandedTo({1, 1}));
    const auto width = static_cast<std::uint16_t>(area.width());
    const auto height = static_cast<std::uint16_t>(area.height());
    if (parent_ != topLevel) {
        window_ = xcb_generate_id(connection);
        parent_ = topLevel;
        xcb_create_window(connection, 0, window_, topLevel, static_cast<std::int16_t>(area.x()),
                          static_cast<std::int16_t>(area.y()), width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        // WM_CLASS holds the instance and the class, each ending in a NUL.
        const QByteArray wmClass = className_ + '\0' + className_ + '\0';
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(wmClass.size()),
                            wmClass.constData());
    } else {
        const std::uint32_t values[] = {static_cast<std::uint32_t>(area.x()),
                                        static_cast<std::uint32_t>(area.y()), width, height};
        xcb_configure_window(connection, window_,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values);
    }
    xcb_flush(connection);
}

} // namespace morvane
