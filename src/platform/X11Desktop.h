#pragma once

#include "Desktop.h"
#include "ScreenPixels.h"

#include <cstddef>

struct xcb_connection_t;

namespace morvane {

// The desktop of the X server named by DISPLAY, on a connection of its own.
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
    QByteArray property(WindowId window, std::uint32_t property, std::uint32_t type,
                        std::uint32_t* actualType = nullptr);
    bool hasWmState(WindowId window);
    WindowId parentInTree(WindowId window, WindowId* root = nullptr);
    QList<WindowId> childrenOf(WindowId window);
    WindowId clientBelow(WindowId window);
    WindowId answeringWindow(WindowId window);
    bool copyRowsShm(const QRect& area, QImage& into, QPoint at);
    bool copyRowsPlain(const QRect& area, QImage& into, QPoint at);
    void releaseShm();
    void readEvents();

    xcb_connection_t* connection_ = nullptr;
    WindowId root_ = 0;
    QSize rootSize_;
    bool randrMonitors_ = false;
    // Reads the root's pixels, whatever its TrueColor layout, into QImage::Format_RGB32.
    PixelConverter pixels_;
    bool shmAvailable_ = false;
    bool lastGrabShared_ = false;
    std::uint32_t shmSegment_ = 0;
    void* shmAddress_ = nullptr;
    std::size_t shmSize_ = 0;
    bool xfixesReady_ = false;
    std::uint32_t atomWmState_ = 0;
    std::uint32_t atomNetWmName_ = 0;
    std::uint32_t atomUtf8String_ = 0;
    std::uint32_t atomCompoundText_ = 0;
    std::uint32_t atomNetWmPid_ = 0;
    std::uint32_t atomGtkFrameExtents_ = 0;
};

} // namespace morvane
