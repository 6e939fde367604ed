#pragma once

#include "Desktop.h"
#include "RootPixels.h"

#include <optional>

struct xcb_connection_t;

namespace morvane {

// The desktop of the X server named by DISPLAY, on a connection of its own. Its rooms:
// X11Desktop.cpp the connection, the screen and its monitors, the pointer and the grab (the
// pixels themselves come through RootPixels); X11WindowTree.cpp the window tree and where a
// window lies; X11WindowProperties.cpp names, classes and owning processes.
class X11Desktop final : public Desktop {
public:
    // How grabScreen moves pixels from the server: through one shared-memory segment when the
    // server offers MIT-SHM, or in the replies to plain GetImage requests.
    enum class PixelTransfer { SharedMemory, Replies };

    explicit X11Desktop(PixelTransfer transfer = PixelTransfer::SharedMemory);
    ~X11Desktop() override;
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    bool isConnected() const { return connection_ != nullptr; }
    // Whether the last grab that read pixels got them through shared memory.
    bool lastGrabSharedMemory() const { return lastGrabShared_; }

    QPoint pointerPosition() override;
    WindowId windowAt(QPoint screenPoint) override;
    WindowId parentOf(WindowId window) override;
    QByteArray className(WindowId window) override;
    QByteArray windowText(WindowId window) override;
    QRect windowRect(WindowId window) override;
    std::uint32_t windowProcess(WindowId window) override;
    QMargins decorationMargins(WindowId window) override;
    QList<WindowId> children(WindowId window) override;
    QSize screenSize() override;
    QRect primaryScreenRect() override;
    QImage grabScreen(const QRect& rect) override;
    std::optional<PointerImage> pointerImage() override;

private:
    std::uint32_t atom(const char* name);
    // Follows the root's size from the events queued on the connection.
    void readEvents();
    // The window properties (X11WindowProperties.cpp).
    QByteArray property(WindowId window, std::uint32_t property, std::uint32_t type,
                        std::uint32_t* actualType = nullptr);
    bool hasWmState(WindowId window);
    // The window tree (X11WindowTree.cpp).
    WindowId parentInTree(WindowId window, WindowId* root = nullptr);
    QList<WindowId> childrenOf(WindowId window);
    WindowId clientBelow(WindowId window);
    WindowId answeringWindow(WindowId window);

    xcb_connection_t* connection_ = nullptr;
    WindowId root_ = 0;
    QSize rootSize_;
    bool randrMonitors_ = false;
    // Made with the connection, and gone before it.
    std::optional<RootPixels> rootPixels_;
    bool lastGrabShared_ = false;
    bool xfixesReady_ = false;
    std::uint32_t atomWmState_ = 0;
    std::uint32_t atomNetWmName_ = 0;
    std::uint32_t atomUtf8String_ = 0;
    std::uint32_t atomCompoundText_ = 0;
    std::uint32_t atomNetWmPid_ = 0;
    std::uint32_t atomGtkFrameExtents_ = 0;
};

} // namespace morvane
