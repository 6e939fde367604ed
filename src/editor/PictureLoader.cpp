#include "PictureLoader.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>

namespace morvane {

namespace {

// The first bytes of a file, zero beyond its end, read as little-endian numbers.
class Head {
public:
    explicit Head(const QByteArray& bytes) {
        const auto n = std::min<qsizetype>(bytes.size(), static_cast<qsizetype>(bytes_.size()));
        std::memcpy(bytes_.data(), bytes.constData(), static_cast<size_t>(n));
    }
    std::uint32_t u16(size_t at) const {
        return static_cast<std::uint32_t>(bytes_[at]) | static_cast<std::uint32_t>(bytes_[at + 1])
                                                            << 8;
    }
    std::uint32_t u32(size_t at) const { return u16(at) | u16(at + 2) << 16; }

private:
    std::array<unsigned char, 54> bytes_{};
};

// Enough of a bitmap's headers for bmpCutShort: the file header and the start of the
// largest info header.
constexpr qint64 kBmpHeadBytes = 54;

// Decoded size of a picture, in bytes of 32-bit pixels, or -1 when a side is out of range.
qint64 decodedBytes(const QSize& size) {
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxPictureSide ||
        size.height() > kMaxPictureSide) {
        return -1;
    }
    const qint64 bytes = qint64{size.width()} * size.height() * 4;
    return bytes <= kMaxPictureBytes ? bytes : -1;
}

// A null image, with the reason given to why when it is asked for.
QImage refused(QString* why, const QString& reason) {
    if (why) {
        *why = reason;
    }
    return {};
}

} // namespace

bool bmpCutShort(const QByteArray& head, qint64 fileSize) {
    if (head.size() < 2 || head[0] != 'B' || head[1] != 'M') {
        return false; // not a bitmap: for the other readers to judge
    }
    if (head.size() < 30) {
        return true; // not even the headers
    }
    const Head h(head);
    const qint64 pixelOffset = h.u32(10);
    const std::uint32_t infoSize = h.u32(14);
    qint64 width = 0;
    qint64 height = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t compression = 0;
    qint64 dataSize = 0;
    if (infoSize == 12) { // the old core header: 16-bit sides
        width = h.u16(18);
        height = h.u16(20);
        bitsPerPixel = h.u16(24);
    } else {
        if (infoSize < 40 || head.size() < 38) {
            return true;
        }
        width = static_cast<std::int32_t>(h.u32(18));
        height = static_cast<std::int32_t>(h.u32(22)); // negative: top-down rows
        bitsPerPixel = h.u16(28);
        compression = h.u32(30);
        dataSize = h.u32(34);
    }
    if (height < 0) {
        height = -height;
    }
    switch (compression) {
    case 0: // uncompressed
    case 3: // bit fields
    case 6: // bit fields with alpha
    {
        // Each row holds width * bitsPerPixel bits, padded to 4 bytes. Sides are at most 2^31
        // and bits per pixel at most 2^16, so none of this overflows 64 bits.
        const qint64 rowBytes = (width * bitsPerPixel + 31) / 32 * 4;
        if (rowBytes > 0 && height > (fileSize - pixelOffset) / rowBytes) {
            return true;
        }
        return pixelOffset > fileSize;
    }
    case 1: // run-length encoded, 8 bits
    case 2: // run-length encoded, 4 bits
        return pixelOffset + dataSize > fileSize;
    default:
        return false; // compressions the bitmap reader judges for itself
    }
}

QImage decodePicture(QIODevice& device, QString* why) {
    if (bmpCutShort(device.peek(kBmpHeadBytes), device.size())) {
        return refused(why, picture_reasons::kCutShort);
    }
    QImageReader reader(&device);
    // The header's size is checked first, so that a file claiming a huge picture is refused
    // before anything is allocated; the reader's own limit (in MiB) covers formats whose
    // header does not tell the size.
    reader.setAllocationLimit(static_cast<int>(kMaxPictureBytes >> 20));
    const QSize claimed = reader.size();
    if (claimed.isValid() && decodedBytes(claimed) < 0) {
        return refused(why, picture_reasons::kTooLarge);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return refused(why, picture_reasons::kNotAPicture);
    }
    if (decodedBytes(image.size()) < 0) {
        return refused(why, picture_reasons::kTooLarge);
    }
    return image;
}

QImage loadPicture(const QString& path, FileIdentity* opened, QString* why) {
    // Only regular files: opening a named pipe or a device could block or never end.
    const QFileInfo info(path);
    if (!info.exists()) {
        return refused(why, picture_reasons::kMissing);
    }
    if (!info.isFile()) {
        return refused(why, picture_reasons::kNotAFile);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return refused(why, file.errorString());
    }
    if (opened) {
        // Taken from the open file itself, so it is the file whose picture is shown.
        struct stat status {};
        if (::fstat(file.handle(), &status) != 0) {
            return refused(why, qt_error_string(errno));
        }
        *opened = {static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino)};
    }
    return decodePicture(file, why);
}

} // namespace morvane
