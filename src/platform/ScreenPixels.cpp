#include "ScreenPixels.h"

#include <QtGlobal>
#include <algorithm>
#include <bit>
#include <cstring>

namespace morvane {

namespace {

constexpr bool kHostMostSignificantFirst = Q_BYTE_ORDER == Q_BIG_ENDIAN;

// A pixel's word from its bytes in the server's order.
template <int Bytes, bool MostSignificantFirst> std::uint32_t loadPixel(const std::uint8_t* p) {
    std::uint32_t value = 0;
    for (int i = 0; i < Bytes; ++i) {
        const int byte = MostSignificantFirst ? Bytes - 1 - i : i;
        value |= std::uint32_t{p[i]} << (8 * byte);
    }
    return value;
}

} // namespace

PixelConverter::PixelConverter(const PixelLayout& layout) {
    const int bpp = layout.bitsPerPixel;
    const bool padOk =
        layout.scanlinePad == 8 || layout.scanlinePad == 16 || layout.scanlinePad == 32;
    if ((bpp != 16 && bpp != 24 && bpp != 32) || !padOk) {
        return;
    }
    const std::uint32_t masks[] = {layout.redMask, layout.greenMask, layout.blueMask};
    const std::uint64_t pixelBits = (std::uint64_t{1} << bpp) - 1;
    std::uint32_t seen = 0;
    for (int c = 0; c < 3; ++c) {
        const std::uint32_t mask = masks[c];
        const int shift = mask ? std::countr_zero(mask) : 0;
        const int bits = std::popcount(mask);
        // Each channel one run of 1 to 16 bits, inside the pixel, apart from the others.
        if (bits < 1 || bits > 16 || (mask >> shift) != (std::uint32_t{1} << bits) - 1 ||
            (mask & seen) != 0 || (mask & ~pixelBits) != 0) {
            return;
        }
        seen |= mask;
        Channel& channel = channels_[static_cast<std::size_t>(c)];
        channel.shift = shift;
        channel.mask = mask >> shift;
        const std::uint32_t top = std::max(channel.mask, std::uint32_t{1}); // one bit at least
        const int place = 16 - 8 * c; // red 16, green 8, blue 0
        channel.rgb.resize(std::size_t{top} + 1);
        for (std::uint32_t v = 0; v <= top; ++v) {
            const std::uint32_t eight = (v * 255 + top / 2) / top;
            channel.rgb[v] = (c == 0 ? 0xff000000u : 0u) | (eight << place);
        }
    }
    bytesPerPixel_ = bpp / 8;
    scanlinePad_ = layout.scanlinePad;
    mostSignificantFirst_ = layout.mostSignificantByteFirst;
    straightCopy_ = bpp == 32 && layout.redMask == 0xff0000 && layout.greenMask == 0xff00 &&
                    layout.blueMask == 0xff && mostSignificantFirst_ == kHostMostSignificantFirst;
}

std::size_t PixelConverter::bytesPerRow(int width) const {
    const auto bits =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel_) * 8;
    const auto pad = static_cast<std::size_t>(scanlinePad_);
    return (bits + pad - 1) / pad * (pad / 8);
}

template <int Bytes, bool MostSignificantFirst>
void PixelConverter::convertRows(const std::uint8_t* source, int width, int rows, QImage& into,
                                 QPoint at) const {
    const std::size_t stride = bytesPerRow(width);
    // Locals, so that the loop need not reload them after each store.
    const std::uint32_t* const red = channels_[0].rgb.data();
    const std::uint32_t* const green = channels_[1].rgb.data();
    const std::uint32_t* const blue = channels_[2].rgb.data();
    const int redShift = channels_[0].shift;
    const int greenShift = channels_[1].shift;
    const int blueShift = channels_[2].shift;
    const std::uint32_t redMask = channels_[0].mask;
    const std::uint32_t greenMask = channels_[1].mask;
    const std::uint32_t blueMask = channels_[2].mask;
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* in = source + stride * static_cast<std::size_t>(y);
        auto* out = reinterpret_cast<std::uint32_t*>(into.scanLine(at.y() + y)) + at.x();
        for (int x = 0; x < width; ++x, in += Bytes) {
            const std::uint32_t p = loadPixel<Bytes, MostSignificantFirst>(in);
            out[x] = red[(p >> redShift) & redMask] | green[(p >> greenShift) & greenMask] |
                     blue[(p >> blueShift) & blueMask];
        }
    }
}

void PixelConverter::convert(const std::uint8_t* source, int width, int rows, QImage& into,
                             QPoint at) const {
    if (!isValid() || width <= 0 || rows <= 0) {
        return;
    }
    if (straightCopy_) {
        const auto rowBytes = static_cast<std::size_t>(width) * 4;
        if (at.x() == 0 && static_cast<std::size_t>(into.bytesPerLine()) == rowBytes) {
            std::memcpy(into.scanLine(at.y()), source, rowBytes * static_cast<std::size_t>(rows));
            return;
        }
        for (int y = 0; y < rows; ++y) {
            std::memcpy(into.scanLine(at.y() + y) + static_cast<std::ptrdiff_t>(at.x()) * 4,
                        source + rowBytes * static_cast<std::size_t>(y), rowBytes);
        }
        return;
    }
    switch (bytesPerPixel_ * 2 + (mostSignificantFirst_ ? 1 : 0)) {
    case 4:
        convertRows<2, false>(source, width, rows, into, at);
        break;
    case 5:
        convertRows<2, true>(source, width, rows, into, at);
        break;
    case 6:
        convertRows<3, false>(source, width, rows, into, at);
        break;
    case 7:
        convertRows<3, true>(source, width, rows, into, at);
        break;
    case 8:
        convertRows<4, false>(source, width, rows, into, at);
        break;
    case 9:
        convertRows<4, true>(source, width, rows, into, at);
        break;
    default:
        break;
    }
}

} // namespace morvane
