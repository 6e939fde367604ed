#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace morvane {

TwipsPerPixel twipsPerPixelForDpi(double logicalDpiX, double logicalDpiY) {
    // A screen that reports no resolution is treated as the common 96 DPI.
    auto perPixel = [](double dpi) { return dpi > 0.0 ? 1440.0 / dpi : 15.0; };
    return {perPixel(logicalDpiX), perPixel(logicalDpiY)};
}

TwipsPerPixel primaryScreenTwipsPerPixel() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        return twipsPerPixelForDpi(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
    }
    return {};
}

int twipsToPixels(double twips, double twipsPerPixel) {
    // nearbyint rounds half to even under the default rounding mode.
    return static_cast<int>(std::nearbyint(twips / twipsPerPixel));
}

QRect twipsRectToPixels(int left, int top, int width, int height, TwipsPerPixel tpp) {
    return {twipsToPixels(left, tpp.x), twipsToPixels(top, tpp.y), twipsToPixels(width, tpp.x),
            twipsToPixels(height, tpp.y)};
}

} // namespace morvane
