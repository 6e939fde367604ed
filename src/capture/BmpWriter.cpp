#include "BmpWriter.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace morvane {

namespace {

constexpr qsizetype kHeaderBytes = 54;

void put16(char* at, std::uint32_t value) {
    at[0] = static_cast<char>(value & 0xff);
    at[1] = static_cast<char>((value >> 8) & 0xff);
}

void put32(char* at, std::uint32_t value) {
    put16(at, value & 0xffff);
    put16(at + 2, value >> 16);
}

qsizetype rowBytes(int width) {
    return (static_cast<qsizetype>(width) * 3 + 3) & ~qsizetype{3};
}

// Fills out (header + rows) for image; out must hold bmpSize(image) bytes.
void encodeInto(const QImage& source, char* out) {
    const QImage image =
        source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
            ? source
            : source.convertToFormat(QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    const qsizetype stride = rowBytes(width);
    const auto pixelBytes = static_cast<std::uint32_t>(stride * height);

    std::memset(out, 0, kHeaderBytes);
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, static_cast<std::uint32_t>(kHeaderBytes) + pixelBytes); // file size
    put32(out + 10, static_cast<std::uint32_t>(kHeaderBytes));             // pixel offset
    put32(out + 14, 40);                                                   // info header size
    put32(out + 18, static_cast<std::uint32_t>(width));
    put32(out + 22, static_cast<std::uint32_t>(height)); // positive: bottom-up
    put16(out + 26, 1);                                  // planes
    put16(out + 28, 24);                                 // bits per pixel
    put32(out + 34, pixelBytes);                         // image size (no compression)
    put32(out + 38, 3780);                               // 96 DPI in pixels per metre
    put32(out + 42, 3780);

    char* row = out + kHeaderBytes;
    for (int y = height - 1; y >= 0; --y, row += stride) {
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        auto* to = reinterpret_cast<unsigned char*>(row);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = pixels[x];
            to[0] = static_cast<unsigned char>(p);       // blue
            to[1] = static_cast<unsigned char>(p >> 8);  // green
            to[2] = static_cast<unsigned char>(p >> 16); // red
            to += 3;
        }
        std::memset(to, 0, static_cast<size_t>(stride - width * 3));
    }
}

qsizetype bmpSize(const QImage& image) {
    return kHeaderBytes + rowBytes(image.width()) * image.height();
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

QByteArray encodeBmp24(const QImage& image) {
    QByteArray bytes(bmpSize(image), Qt::Uninitialized);
    encodeInto(image, bytes.data());
    return bytes;
}

bool writeNewBmp24(const QString& path, const QImage& image) {
    if (image.isNull()) {
        errno = EINVAL;
        return false;
    }
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    // One buffer for the whole file, kept between captures: a fresh multi-megabyte
    // allocation would cost more in page faults than encoding the pixels does.
    static std::vector<char> buffer;
    const auto size = static_cast<size_t>(bmpSize(image));
    if (buffer.size() < size) {
        buffer.resize(size);
    }
    encodeInto(image, buffer.data());
    const bool written = writeAll(fd, buffer.data(), static_cast<qsizetype>(size));
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        ::unlink(nativePath.constData());
        errno = written ? EIO : writeError;
        return false;
    }
    return true;
}

} // namespace morvane
