#pragma once

#include "platform/Desktop.h"

#include <QImage>
#include <QPoint>

namespace morvane {

// Where the pointer image goes in a capture whose top-left corner is origin on the screen:
// its hotspot lands on the pointer position. Results may be negative or lie beyond the
// capture; drawing clips them.
QPoint overlayPosition(QPoint pointer, QPoint origin, QPoint hotspot);

// Blends the pointer image into the capture at the position, clipped at the capture's edges.
void drawPointer(QImage& capture, const PointerImage& pointer, QPoint at);

// The screen inside the window's outer rectangle, cut to the screen, with the pointer drawn
// in when asked. A null image when the window has no area on the screen or the screen
// cannot be read.
QImage GrabWindowRect(Desktop& desktop, WindowId target, QPoint pointer, bool withPointer);

// The primary monitor's rectangle (the whole screen when there is no primary monitor), with
// the pointer drawn in when asked.
QImage GrabFullScreen(Desktop& desktop, QPoint pointer, bool withPointer);

} // namespace morvane
