#pragma once

#include "common/Twips.h"

#include <QRect>
#include <QSize>
#include <cstdint>
#include <optional>

namespace morvane {

// The smallest selection side that counts, in twips. Stated in twips, not pixels, so a
// one-pixel drag at 96 DPI (15 twips) is not a selection.
inline constexpr float kMinSelectionTwips = 15.0f;

// Whether a dragged rectangle of width x height twips is a selection on a picture area of
// pictureWidth x pictureHeight twips: each side longer than kMinSelectionTwips and shorter
// than the picture area's, all four strictly.
bool selectionAccepted(float width, float height, float pictureWidth, float pictureHeight);

// The 16-bit signed integer nearest to value, a value halfway between two going to the even
// one; nothing when the rounded value lies outside -32768 .. 32767 or value is not a number.
std::optional<std::int16_t> roundToInt16(double value);

// The clip rectangle in picture pixels for a selection held in twips: each of left, top,
// width and height divided by the axis's twips per pixel in double precision and rounded by
// roundToInt16. Nothing when any quotient does not fit.
std::optional<QRect> clipRectangle(float left, float top, float width, float height,
                                   TwipsPerPixel tpp);

// The part of clip that lies on a picture of the given size: a rectangle reaching past the
// right or bottom edge is cut there. Empty when no pixel of it lies on the picture.
QRect cutAtPictureEdges(const QRect& clip, const QSize& picture);

// Left edges, in twips, of the container's two save buttons: "另存为" stands 300 twips in
// from the window's outer width, "保存" 100 twips to its left. Computed in single precision;
// a window narrower than the buttons gives negative lefts.
struct SaveButtonLefts {
    float saveTo = 0.0f;
    float save = 0.0f;
};
SaveButtonLefts saveButtonLefts(float outerWidth, float saveToWidth, float saveWidth);

} // namespace morvane
