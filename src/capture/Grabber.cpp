#include "Grabber.h"

#include <QPainter>

namespace morvane {

QPoint overlayPosition(QPoint pointer, QPoint origin, QPoint hotspot) {
    return pointer - origin - hotspot;
}

void drawPointer(QImage& capture, const PointerImage& pointer, QPoint at) {
    if (capture.isNull() || pointer.image.isNull()) {
        return;
    }
    QPainter painter(&capture);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(at, pointer.image);
}

namespace {

QImage grab(Desktop& desktop, WindowId window, const QRect& rect, QPoint pointer,
            bool withPointer) {
    if (rect.isEmpty()) {
        return {};
    }
    QImage capture = window ? desktop.grabWindow(window, rect) : desktop.grabScreen(rect);
    if (capture.isNull()) {
        return {};
    }
    // The pointer is asked for only when it is to be drawn.
    if (withPointer) {
        if (const auto image = desktop.pointerImage()) {
            drawPointer(capture, *image, overlayPosition(pointer, rect.topLeft(), image->hotspot));
        }
    }
    return capture;
}

} // namespace

QImage GrabWindowRect(Desktop& desktop, WindowId target, QPoint pointer, bool withPointer) {
    // Only the part on the screen: beyond its edges a window shows no pixels, and a window
    // may be far larger than any screen (X allows 32767 x 32767).
    const QRect onScreen =
        desktop.windowRect(target).intersected(QRect(QPoint(0, 0), desktop.screenSize()));
    return grab(desktop, target, onScreen, pointer, withPointer);
}

QImage GrabFullScreen(Desktop& desktop, QPoint pointer, bool withPointer) {
    return grab(desktop, 0, desktop.primaryScreenRect(), pointer, withPointer);
}

} // namespace morvane
