#pragma once

#include <QImage>
#include <QPoint>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace morvane {

// How the X server lays out the screen's pixels in the images it sends (ZPixmap): each
// pixel is bitsPerPixel bits in the server's byte order, each row is padded to a multiple
// of scanlinePad bits, and the masks say which bits hold red, green and blue (TrueColor).
struct PixelLayout {
    int bitsPerPixel = 0;
    int scanlinePad = 32;
    bool mostSignificantByteFirst = false;
    std::uint32_t redMask = 0;
    std::uint32_t greenMask = 0;
    std::uint32_t blueMask = 0;
};

// Turns rows of screen pixels into QImage::Format_RGB32 (0xffRRGGBB). Pixels of 16, 24 and
// 32 bits with channels of 1 to 16 bits each (15/16-bit, 24-bit in 24 or 32 bits, 30-bit
// screens) are read; each channel is scaled to 8 bits, rounded, so full and zero
// intensities stay exact.
class PixelConverter {
public:
    PixelConverter() = default;
    explicit PixelConverter(const PixelLayout& layout);

    // Whether the layout is one this converter reads.
    bool isValid() const { return bytesPerPixel_ != 0; }
    // Whether the server's rows are already QImage::Format_RGB32 rows: convert only copies.
    bool isStraightCopy() const { return straightCopy_; }
    // Bytes of one row of the given width as the server sends it, padding included.
    std::size_t bytesPerRow(int width) const;
    // Converts rows packed as the server sends them into the image, from the point on.
    void convert(const std::uint8_t* source, int width, int rows, QImage& into, QPoint at) const;

private:
    template <int Bytes, bool MostSignificantFirst>
    void convertRows(const std::uint8_t* source, int width, int rows, QImage& into,
                     QPoint at) const;

    struct Channel {
        int shift = 0;
        std::uint32_t mask = 0;         // after the shift
        std::vector<std::uint32_t> rgb; // channel value -> its bits of 0xffRRGGBB
    };

    int bytesPerPixel_ = 0;
    int scanlinePad_ = 32;
    bool mostSignificantFirst_ = false;
    // Words 0x00RRGGBB in this machine's byte order: rows are copied as they come.
    bool straightCopy_ = false;
    std::array<Channel, 3> channels_;
};

} // namespace morvane
