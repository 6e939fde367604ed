#include "CropGeometry.h"

#include <cmath>

namespace morvane {

bool selectionAccepted(float width, float height, float pictureWidth, float pictureHeight) {
    return width > kMinSelectionTwips && height > kMinSelectionTwips && width < pictureWidth &&
           height < pictureHeight;
}

std::optional<std::int16_t> roundToInt16(double value) {
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    // nearbyint rounds half to even under the default rounding mode; the range is checked
    // after rounding, so 32767.5 (which rounds to 32768) does not fit and -32768.5 does.
    const double rounded = std::nearbyint(value);
    if (rounded < -32768.0 || rounded > 32767.0) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(rounded);
}

std::optional<QRect> clipRectangle(float left, float top, float width, float height,
                                   TwipsPerPixel tpp) {
    // The screen reports its twips per pixel in single precision; the quotient is taken in
    // double precision from the single-precision values.
    const double perPixelX = static_cast<double>(static_cast<float>(tpp.x));
    const double perPixelY = static_cast<double>(static_cast<float>(tpp.y));
    const auto x = roundToInt16(static_cast<double>(left) / perPixelX);
    const auto y = roundToInt16(static_cast<double>(top) / perPixelY);
    const auto h = roundToInt16(static_cast<double>(height) / perPixelY);
    const auto w = roundToInt16(static_cast<double>(width) / perPixelX);
    if (!x || !y || !h || !w) {
        return std::nullopt;
    }
    return QRect(*x, *y, *w, *h);
}

QRect cutAtPictureEdges(const QRect& clip, const QSize& picture) {
    if (clip.width() <= 0 || clip.height() <= 0) {
        return {};
    }
    return clip.intersected(QRect(QPoint(0, 0), picture));
}

SaveButtonLefts saveButtonLefts(float outerWidth, float saveToWidth, float saveWidth) {
    SaveButtonLefts lefts;
    lefts.saveTo = outerWidth - saveToWidth - 300.0f;
    lefts.save = lefts.saveTo - saveWidth - 100.0f;
    return lefts;
}

} // namespace morvane
