#include "BmpWriter.h"

#include "capture/ReplaceFile.h"
#include "common/Log.h"

#include <QIODevice>
#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

QImage asRgb32(const QImage& source) {
    return source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
               ? source
               : source.convertToFormat(QImage::Format_RGB32);
}

// The 54 header bytes of a width x height picture.
void writeHeader(char* out, int width, int height) {
    const auto pixelBytes = static_cast<std::uint32_t>(rowBytes(width) * height);
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
}

// Pixels x .. width - 1 of a row of 32-bit pixels as blue, green, red bytes.
void encodeRowBytes(const std::uint32_t* pixels, int x, int width, unsigned char* to) {
    for (; x < width; ++x, to += 3) {
        const std::uint32_t p = pixels[x];
        to[0] = static_cast<unsigned char>(p);       // blue
        to[1] = static_cast<unsigned char>(p >> 8);  // green
        to[2] = static_cast<unsigned char>(p >> 16); // red
    }
}

void encodeRowPlain(const std::uint32_t* pixels, int width, unsigned char* to) {
    encodeRowBytes(pixels, 0, width, to);
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels to twelve bytes in one shuffle: byte by byte, a full screen's rows took about
// as long as the grab itself.
__attribute__((target("ssse3"))) void encodeRowShuffled(const std::uint32_t* pixels, int width,
                                                        unsigned char* to) {
    const __m128i pick = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int x = 0;
    // Each store writes 16 bytes of which 12 count; the other 4 are written over by the
    // next, so the last stores leave the row's end to the bytes loop.
    for (; x + 6 <= width; x += 4, to += 12) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(four, pick));
    }
    encodeRowBytes(pixels, x, width, to);
}
#endif

using RowEncoder = void (*)(const std::uint32_t*, int, unsigned char*);

RowEncoder rowEncoder() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("ssse3")) {
        return encodeRowShuffled;
    }
#endif
    return encodeRowPlain;
}

// Stored rows first .. first + count - 1, counted from the bottom row of the image.
void encodeRows(const QImage& image, int first, int count, char* out) {
    const int width = image.width();
    const qsizetype stride = rowBytes(width);
    const auto padding = static_cast<size_t>(stride - qsizetype{width} * 3);
    static const RowEncoder encodeRow = rowEncoder();
    char* row = out;
    for (int stored = first; stored < first + count; ++stored, row += stride) {
        const int y = image.height() - 1 - stored;
        encodeRow(reinterpret_cast<const std::uint32_t*>(image.constScanLine(y)), width,
                  reinterpret_cast<unsigned char*>(row));
        std::memset(row + qsizetype{width} * 3, 0, padding);
    }
}

} // namespace

bool writeBmp24(QIODevice& out, const QImage& image) {
    // Encoded in pieces of about 8 MiB through one buffer kept between captures: a screen
    // fits in one piece, and a tall page does not make the program keep a buffer of its
    // whole size. A fresh buffer for each capture would cost more in page faults than
    // encoding the pixels does.
    const QImage pixels = asRgb32(image);
    const qsizetype stride = rowBytes(pixels.width());
    const int rowsPerPiece =
        static_cast<int>(std::max<qsizetype>(1, (qsizetype{8} << 20) / stride));
    static std::vector<char> buffer;
    const auto pieceBytes = static_cast<size_t>(kHeaderBytes + stride * rowsPerPiece);
    if (buffer.size() < pieceBytes) {
        buffer.resize(pieceBytes);
    }
    writeHeader(buffer.data(), pixels.width(), pixels.height());
    qsizetype offset = kHeaderBytes; // the first piece carries the header
    for (int first = 0; first < pixels.height(); first += rowsPerPiece) {
        const int count = std::min(rowsPerPiece, pixels.height() - first);
        encodeRows(pixels, first, count, buffer.data() + offset);
        const qsizetype size = offset + stride * count;
        if (out.write(buffer.data(), size) != size) {
            return false;
        }
        offset = 0;
    }
    return true;
}

bool replaceWithBmp24(const QString& path, const QImage& image) {
    if (image.isNull() || path.isEmpty()) {
        qCWarning(lcMorvane) << "picture not written, nothing to write:" << path;
        return false;
    }
    return replaceFile(path, [&image](QIODevice& out) { return writeBmp24(out, image); })
        .replaced();
}

} // namespace morvane
