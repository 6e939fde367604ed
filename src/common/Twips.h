#pragma once

#include <QRect>

namespace morvane {

// Window layouts are given in twips (1440 per inch). A screen reports its own
// logical resolution per axis, so the conversion factor may differ in x and y.
struct TwipsPerPixel {
    double x = 15.0;
    double y = 15.0;
};

TwipsPerPixel twipsPerPixelForDpi(double logicalDpiX, double logicalDpiY);

// The primary screen's, as windows are laid out on it; 15 and 15 without a screen.
TwipsPerPixel primaryScreenTwipsPerPixel();

// Whole pixels for a length in twips, rounded half to even.
int twipsToPixels(double twips, double twipsPerPixel);

// A rectangle given as left, top, width, height in twips, in pixels.
QRect twipsRectToPixels(int left, int top, int width, int height, TwipsPerPixel tpp);

} // namespace morvane
