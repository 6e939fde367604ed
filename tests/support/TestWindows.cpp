#include "TestWindows.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace morvane::test {

TestWindows::TestWindows() {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_)) {
        ADD_FAILURE() << "no X display for the test windows";
        return;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
}

TestWindows::~TestWindows() {
    for (const WindowId window : windows_) {
        xcb_destroy_window(connection_, window);
    }
    sync(); // every window gone before the connection closes
    waitUntilUnmanaged(managed_);
    xcb_disconnect(connection_);
}

void TestWindows::waitUntilUnmanaged(const std::vector<WindowId>& windows) {
    // The next connection may be given the same window numbers. A window manager that has not
    // yet let go of a destroyed window would then unmap or move the new window in its place.
    const std::uint32_t clientList = atom("_NET_CLIENT_LIST");
    QElapsedTimer clock;
    clock.start();
    while (!windows.empty() && clock.elapsed() < 5000) {
        auto* reply = xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, root_, clientList, XCB_ATOM_WINDOW, 0, 4096), nullptr);
        bool listed = false;
        if (reply) {
            const auto* clients = static_cast<const WindowId*>(xcb_get_property_value(reply));
            const int count = xcb_get_property_value_length(reply) / 4;
            for (int i = 0; i < count && !listed; ++i) {
                listed = std::find(windows.begin(), windows.end(), clients[i]) != windows.end();
            }
        }
        std::free(reply);
        if (!listed) {
            return;
        }
        QThread::msleep(10);
    }
}

std::uint32_t TestWindows::atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const std::uint32_t result = reply ? reply->atom : 0;
    std::free(reply);
    return result;
}

WindowId TestWindows::create(const WindowSpec& spec) {
    const WindowId parent = spec.parent ? spec.parent : root_;
    const std::uint32_t mask =
        spec.inputOnly ? XCB_CW_OVERRIDE_REDIRECT : XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT;
    std::vector<std::uint32_t> values;
    if (!spec.inputOnly) {
        values.push_back(spec.colour & 0xffffff);
    }
    values.push_back(spec.overrideRedirect ? 1 : 0);
    // Checked, so that a window the server refused is known at once, not after a wait.
    WindowId window = 0;
    for (int attempt = 0; attempt < 4 && window == 0; ++attempt) {
        window = xcb_generate_id(connection_);
        const xcb_void_cookie_t cookie = xcb_create_window_checked(
            connection_, spec.inputOnly ? 0 : XCB_COPY_FROM_PARENT, window, parent,
            static_cast<std::int16_t>(spec.rect.x()), static_cast<std::int16_t>(spec.rect.y()),
            static_cast<std::uint16_t>(spec.rect.width()),
            static_cast<std::uint16_t>(spec.rect.height()), spec.inputOnly ? 0 : spec.borderWidth,
            spec.inputOnly ? XCB_WINDOW_CLASS_INPUT_ONLY : XCB_WINDOW_CLASS_INPUT_OUTPUT,
            XCB_COPY_FROM_PARENT, mask, values.data());
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
            ADD_FAILURE() << "the X server refused a test window: error "
                          << static_cast<int>(error->error_code);
            std::free(error);
            window = 0;
        }
    }
    if (window == 0) {
        return 0;
    }
    if (!spec.title.isEmpty()) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME,
                            XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(spec.title.size()),
                            spec.title.constData());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_NAME"),
                            atom("UTF8_STRING"), 8, static_cast<std::uint32_t>(spec.title.size()),
                            spec.title.constData());
    }
    if (!spec.className.isEmpty()) {
        const QByteArray wmClass = spec.className.toLower() + '\0' + spec.className + '\0';
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<std::uint32_t>(wmClass.size()),
                            wmClass.constData());
    }
    if (spec.transientFor) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_TRANSIENT_FOR,
                            XCB_ATOM_WINDOW, 32, 1, &spec.transientFor);
    }
    const bool managed = spec.parent == 0 && !spec.overrideRedirect;
    if (managed) {
        // Ask the window manager to keep the requested position and size.
        std::uint32_t hints[18] = {};
        hints[0] = 1 | 2 | 4 | 8; // USPosition, USSize, PPosition, PSize
        hints[1] = static_cast<std::uint32_t>(spec.rect.x());
        hints[2] = static_cast<std::uint32_t>(spec.rect.y());
        hints[3] = static_cast<std::uint32_t>(spec.rect.width());
        hints[4] = static_cast<std::uint32_t>(spec.rect.height());
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS,
                            XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
    }
    xcb_map_window(connection_, window);
    xcb_flush(connection_);
    windows_.push_back(window);
    if (managed) {
        managed_.push_back(window);
    }

    QElapsedTimer clock;
    clock.start();
    const std::uint32_t wmState = atom("WM_STATE");
    while (clock.elapsed() < 10000) {
        auto* attributes = xcb_get_window_attributes_reply(
            connection_, xcb_get_window_attributes(connection_, window), nullptr);
        const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attributes);
        bool ready = viewable;
        if (ready && managed) {
            auto* state = xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, window, wmState, wmState, 0, 2),
                nullptr);
            ready = state && xcb_get_property_value_length(state) > 0;
            std::free(state);
        }
        if (ready) {
            // Let the server paint the backgrounds before anything is read off the screen.
            sync();
            QThread::msleep(50);
            return window;
        }
        QThread::msleep(10);
    }
    ADD_FAILURE() << "test window " << spec.title.constData() << " never became viewable";
    return 0;
}

void TestWindows::destroy(WindowId window) {
    xcb_destroy_window(connection_, window);
    std::erase(windows_, window);
    sync();
    if (std::erase(managed_, window) > 0) {
        waitUntilUnmanaged({window});
    }
}

void TestWindows::unmap(WindowId window) {
    xcb_unmap_window(connection_, window);
    sync();
}

void TestWindows::closeLikeTitleBar(WindowId window) {
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    sync();
}

void TestWindows::setProperty(WindowId window, const char* name, const char* type, int format,
                              const QByteArray& data) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(name), atom(type),
                        static_cast<std::uint8_t>(format),
                        static_cast<std::uint32_t>(data.size() * 8 / format), data.constData());
    sync();
}

QRect TestWindows::screenRect(WindowId window) {
    auto* geo = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
    auto* where = xcb_translate_coordinates_reply(
        connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr);
    QRect result;
    if (geo && where) {
        result = QRect(where->dst_x, where->dst_y, geo->width, geo->height);
    }
    std::free(geo);
    std::free(where);
    return result;
}

void TestWindows::warpPointer(QPoint screenPoint) {
    xcb_warp_pointer(connection_, XCB_NONE, root_, 0, 0, 0, 0,
                     static_cast<std::int16_t>(screenPoint.x()),
                     static_cast<std::int16_t>(screenPoint.y()));
    sync();
}

void TestWindows::sync() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

} // namespace morvane::test
