#include "RootPixels.h"

#include "XcbReply.h"
#include "common/Log.h"

#include <QList>
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace morvane {

// One shared-memory segment attached to the server. Lent: a picture's pixels live in it,
// so no grab may use it. A segment the server has let go of (its RootPixels gone) while
// lent leaves this process when the picture does.
struct ShmSegment {
    std::uint32_t id = 0; // the server's name for it
    void* address = nullptr;
    std::size_t size = 0;
    std::mutex lock; // pictures may be released on any thread
    bool lent = false;
    bool detached = false;
};

namespace {

// More segments than this (pictures held all at once) and grabs go through the replies:
// each lent segment is a screen's worth of memory.
constexpr std::size_t kMaxSegments = 4;

struct Loan {
    std::shared_ptr<ShmSegment> segment;
};

void endLoan(void* info) {
    auto* loan = static_cast<Loan*>(info);
    {
        const std::lock_guard<std::mutex> hold(loan->segment->lock);
        loan->segment->lent = false;
        if (loan->segment->detached) {
            shmdt(loan->segment->address);
            loan->segment->address = nullptr;
        }
    }
    delete loan;
}

bool isLent(ShmSegment& segment) {
    const std::lock_guard<std::mutex> hold(segment.lock);
    return segment.lent;
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

RootPixels::RootPixels(xcb_connection_t* connection, const xcb_screen_t& screen, bool sharedMemory)
    : connection_(connection), root_(screen.root) {
    const PixelLayout layout = rootPixelLayout(xcb_get_setup(connection), &screen);
    pixels_ = PixelConverter(layout);
    if (!pixels_.isValid()) {
        qCWarning(lcMorvane) << "the screen's pixels cannot be read: depth" << screen.root_depth
                             << "with" << layout.bitsPerPixel
                             << "bits per pixel is not a TrueColor layout this program knows";
    }
    if (sharedMemory) {
        const auto* shm = xcb_get_extension_data(connection, &xcb_shm_id);
        shmAvailable_ = shm && shm->present;
    }
}

RootPixels::~RootPixels() {
    for (const auto& segment : segments_) {
        detach(*segment);
    }
    xcb_flush(connection_);
}

bool RootPixels::copy(const QRect& area, QImage& into, QPoint at) {
    lastCopyShared_ = false;
    if (!pixels_.isValid()) {
        return false;
    }
    if (shmAvailable_ && copyShm(area, into, at)) {
        lastCopyShared_ = true;
        return true;
    }
    return copyPlain(area, into, at);
}

QImage RootPixels::lend(const QRect& area) {
    lastCopyShared_ = false;
    if (!shmAvailable_ || !pixels_.isStraightCopy() || area.isEmpty()) {
        return {};
    }
    const std::size_t rowBytes = pixels_.bytesPerRow(area.width());
    const std::size_t needed = rowBytes * static_cast<std::size_t>(area.height());
    const std::shared_ptr<ShmSegment> segment = freeSegment(needed);
    // A small picture does not hold a screen-sized segment: it is copied out instead.
    if (!segment || segment->size / 4 > needed || !fetchShm(area, *segment)) {
        return {};
    }
    {
        const std::lock_guard<std::mutex> hold(segment->lock);
        segment->lent = true;
    }
    lastCopyShared_ = true;
    return QImage(static_cast<uchar*>(segment->address), area.width(), area.height(),
                  static_cast<qsizetype>(rowBytes), QImage::Format_RGB32, endLoan,
                  new Loan{segment});
}

void RootPixels::detach(ShmSegment& segment) {
    xcb_shm_detach(connection_, segment.id);
    const std::lock_guard<std::mutex> hold(segment.lock);
    segment.detached = true;
    if (!segment.lent) {
        shmdt(segment.address);
        segment.address = nullptr;
    }
}

std::shared_ptr<ShmSegment> RootPixels::freeSegment(std::size_t bytes) {
    std::shared_ptr<ShmSegment> smallest; // the free one that fits best, or else to grow
    std::shared_ptr<ShmSegment> tooSmall;
    for (const auto& segment : segments_) {
        if (isLent(*segment)) {
            continue;
        }
        if (segment->size >= bytes) {
            if (!smallest || segment->size < smallest->size) {
                smallest = segment;
            }
        } else {
            tooSmall = segment;
        }
    }
    if (smallest) {
        return smallest;
    }
    if (tooSmall) {
        // It grows to the area asked for: let go of it, and a larger one takes its place.
        detach(*tooSmall);
        std::erase(segments_, tooSmall);
    }
    if (segments_.size() >= kMaxSegments) {
        return nullptr;
    }
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) {
        return nullptr;
    }
    void* address = shmat(id, nullptr, 0);
    // shmat reports failure as the address (void*)-1.
    if (reinterpret_cast<std::intptr_t>(address) == -1) {
        shmctl(id, IPC_RMID, nullptr);
        return nullptr;
    }
    const std::uint32_t xid = xcb_generate_id(connection_);
    const XcbOwned<xcb_generic_error_t> error(xcb_request_check(
        connection_, xcb_shm_attach_checked(connection_, xid, static_cast<std::uint32_t>(id), 0)));
    // Marked for removal at once: the system frees it when the last user detaches, even if
    // this process dies.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        // The server cannot reach this machine's memory (a remote display): stop trying.
        shmdt(address);
        shmAvailable_ = false;
        return nullptr;
    }
    auto segment = std::make_shared<ShmSegment>();
    segment->id = xid;
    segment->address = address;
    segment->size = bytes;
    segments_.push_back(segment);
    return segment;
}

bool RootPixels::fetchShm(const QRect& area, const ShmSegment& segment) {
    const std::size_t needed =
        pixels_.bytesPerRow(area.width()) * static_cast<std::size_t>(area.height());
    const auto reply =
        xcbReply(connection_, xcb_shm_get_image_reply,
                 xcb_shm_get_image(connection_, root_, static_cast<std::int16_t>(area.x()),
                                   static_cast<std::int16_t>(area.y()),
                                   static_cast<std::uint16_t>(area.width()),
                                   static_cast<std::uint16_t>(area.height()), ~0u,
                                   XCB_IMAGE_FORMAT_Z_PIXMAP, segment.id, 0));
    return reply && reply->size >= needed;
}

bool RootPixels::copyShm(const QRect& area, QImage& into, QPoint at) {
    const std::size_t needed =
        pixels_.bytesPerRow(area.width()) * static_cast<std::size_t>(area.height());
    const std::shared_ptr<ShmSegment> segment = freeSegment(needed);
    if (!segment || !fetchShm(area, *segment)) {
        return false;
    }
    pixels_.convert(static_cast<const std::uint8_t*>(segment->address), area.width(), area.height(),
                    into, at);
    return true;
}

bool RootPixels::copyPlain(const QRect& area, QImage& into, QPoint at) {
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

} // namespace morvane
