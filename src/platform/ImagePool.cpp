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

// Two buffers are enough: the last capture (held by the clipboard) and the one being made.
constexpr size_t kKeptBuffers = 2;

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
        for (auto it = buffers.begin(); it != buffers.end(); ++it) {
            if (it->capacity >= needed) {
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
