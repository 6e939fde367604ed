#pragma once

#include "ScreenPixels.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct xcb_connection_t;
struct xcb_screen_t;

namespace morvane {

struct ShmSegment;

// Reads the root window's pixels into QImage::Format_RGB32, whatever its TrueColor layout:
// through shared memory when the server offers MIT-SHM, or in the replies to plain
// GetImage requests. A few shared-memory segments serve the copies, one that is too
// small giving way to a larger one; they are detached on destruction, so the connection must
// outlive this object.
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
    // The area, which must lie on the screen, as a picture in the very segment the server
    // wrote it into, when its rows are already QImage::Format_RGB32 rows: a full screen is
    // not copied once more before it is written to its file. The segment serves no other
    // grab while the picture, or any copy sharing its pixels, lives; the picture stays
    // valid after this object is gone. A null image when the pixels do not come that way
    // (no MIT-SHM, a layout that needs converting, a segment far larger than the area,
    // every segment lent out): copy() then.
    QImage lend(const QRect& area);

private:
    // A segment that no picture holds, of at least `bytes`: one already attached, or a new
    // one; none when every segment is lent out or the server cannot attach one.
    std::shared_ptr<ShmSegment> freeSegment(std::size_t bytes);
    bool fetchShm(const QRect& area, const ShmSegment& segment);
    bool copyShm(const QRect& area, QImage& into, QPoint at);
    bool copyPlain(const QRect& area, QImage& into, QPoint at);
    void detach(ShmSegment& segment);

    xcb_connection_t* connection_;
    std::uint32_t root_;
    PixelConverter pixels_;
    bool shmAvailable_ = false;
    bool lastCopyShared_ = false;
    std::vector<std::shared_ptr<ShmSegment>> segments_;
};

} // namespace morvane
