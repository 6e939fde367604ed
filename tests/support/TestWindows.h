#pragma once

#include "platform/Desktop.h"

#include <QByteArray>
#include <QRect>
#include <QRgb>
#include <vector>

struct xcb_connection_t;

namespace morvane::test {

struct WindowSpec {
    QRect rect;                    // position and size, in the parent's coordinates
    QRgb colour = 0xff808080;      // solid background, painted by the X server
    QByteArray title;              // WM_NAME and _NET_WM_NAME; empty: none
    QByteArray className;          // class part of WM_CLASS; empty: none
    WindowId parent = 0;           // 0: a top-level window, managed by the window manager
    WindowId transientFor = 0;     // WM_TRANSIENT_FOR
    bool overrideRedirect = false; // a top-level the window manager leaves alone
    quint16 borderWidth = 0;
    bool inputOnly = false;
};

// Real X windows for desktop tests, on a connection of their own; every window made is
// destroyed with the object.
class TestWindows {
public:
    TestWindows();
    ~TestWindows();
    TestWindows(const TestWindows&) = delete;
    TestWindows& operator=(const TestWindows&) = delete;

    // Creates and maps the window; returns once it is viewable (a managed one: once the
    // window manager has framed and mapped it). 0 when that did not happen within 10 s.
    WindowId create(const WindowSpec& spec);
    void destroy(WindowId window);
    // Unmaps the window, as a minimised one is.
    void unmap(WindowId window);
    // Asks the window to close as a title bar's close button does: the WM_DELETE_WINDOW
    // message of WM_PROTOCOLS (the window stays; its owner decides what closing means).
    void closeLikeTitleBar(WindowId window);
    // Replaces a property; format is 8, 16 or 32 bits per item.
    void setProperty(WindowId window, const char* name, const char* type, int format,
                     const QByteArray& data);
    // The window's inside (border excluded) in root coordinates.
    QRect screenRect(WindowId window);
    void warpPointer(QPoint screenPoint);
    void sync();
    xcb_connection_t* connection() const { return connection_; }
    WindowId root() const { return root_; }

private:
    std::uint32_t atom(const char* name);
    void waitUntilUnmanaged(const std::vector<WindowId>& windows);

    xcb_connection_t* connection_ = nullptr;
    WindowId root_ = 0;
    std::vector<WindowId> windows_;
    std::vector<WindowId> managed_; // the window manager's, until it lets go of them
};

} // namespace morvane::test
