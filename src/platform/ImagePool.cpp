#include "ImagePool.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace morvane {

namespace {

struct Buffer {
    uchar* data;
    qsizetype capacity;
};

// One spare buffer is enough. The last capture's buffer is not in the pool while the
// clipboard holds it; the next capture takes the spare, and the buffer it replaces on the
// clipboard comes back as the spare. More would only hold screen-sized memory idle.
constexpr size_t kKeptBuffers = 1;

std::mutex& poolLock() {
    static std::mutex lock;
    return lock;
}

// Never destroyed: an image released while the program exits still finds the pool, and the
// buffers kept stay reachable to the end instead of being dropped with the list at exit.
std::vector<Buffer>& freeBuffers() {
    static auto* buffers = new std::vector<Buffer>;
    return *buffers;
}

struct Lease {
    Buffer buffer;
};

void giveBack(void* info) {
    auto* lease = static_cast<Lease*>(info);
    {
        const std::lock_guard<std::mutex> hold(poolLock());
        auto& buffers = freeBuffers();
        if (buffers.size() < kKeptBuffers && lease->buffer.capacity <= kLargestPooled) {
            buffers.push_back(lease->buffer);
            lease->buffer.data = nullptr;
        }
    }
    std::free(lease->buffer.data);
    delete lease;
}

} // namespace

QImage pooledImage(QSize size, QImage::Format format) {
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    if (size.isEmpty() || depth % 8 != 0) {
        return {};
    }
    const qsizetype bytesPerLine = ((qsizetype{size.width()} * depth / 8) + 3) & ~qsizetype{3};
    const qsizetype needed = bytesPerLine * size.height();
    Buffer buffer{nullptr, 0};
    {
        const std::lock_guard<std::mutex> hold(poolLock());
        auto& buffers = freeBuffers();
        // A spare far larger than asked for (a full screen's for a small window) stays for
        // the next large capture rather than be held by a small picture.
        for (auto it = buffers.begin(); it != buffers.end(); ++it) {
            if (it->capacity >= needed && it->capacity / 4 <= needed) {
                buffer = *it;
                buffers.erase(it);
                break;
            }
        }
    }
    if (!buffer.data) {
        buffer = {static_cast<uchar*>(std::malloc(static_cast<size_t>(needed))), needed};
        if (!buffer.data) {
            return {};
        }
    }
    auto* lease = new Lease{buffer};
    return QImage(buffer.data, size.width(), size.height(), bytesPerLine, format, giveBack, lease);
}

} // namespace morvane
