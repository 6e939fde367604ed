#pragma once

#include "ScreenPixels.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstddef>
#include <cstdint>

struct xcb_connection_t;
struct xcb_screen_t;

namespace morvane {

// Reads the root window's pixels into QImage::Format_RGB32, whatever its TrueColor layout:
// through one shared-memory segment when the server offers MIT-SHM, or in the replies to
// plain GetImage requests. The segment serves every copy and grows to the largest asked
// for; it is detached on destruction, so the connection must outlive this object.
class RootPixels {
public:
    // sharedMemory false: replies only, even where the server offers MIT-SHM.
    RootPixels(xcb_connection_t* connection, const xcb_screen_t& screen, bool sharedMemory);
    ~RootPixels();
    RootPixels(const RootPixels&) = delete;
    RootPixels& operator=(const RootPixels&) = delete;

    // Whether the root's layout is one that can be read at all.
    bool readable() const { return pixels_.isValid(); }
    // Copies the area, which must lie on the screen, into the image from the point on. False
    // when the pixels could not be had.
    bool copy(const QRect& area, QImage& into, QPoint at);
    // Whether the last copy came through shared memory.
    bool lastCopyShared() const { return lastCopyShared_; }

private:
    bool copyShm(const QRect& area, QImage& into, QPoint at);
    bool copyPlain(const QRect& area, QImage& into, QPoint at);
    void releaseShm();

    xcb_connection_t* connection_;
    std::uint32_t root_;
    PixelConverter pixels_;
    bool shmAvailable_ = false;
    bool lastCopyShared_ = false;
    std::uint32_t shmSegment_ = 0;
    void* shmAddress_ = nullptr;
    std::size_t shmSize_ = 0;
};

} // namespace morvane
