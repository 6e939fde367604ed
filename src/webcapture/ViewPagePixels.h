#pragma once

#include "webcapture/PageCapture.h"

#include <QPointer>
#include <QWidget>

namespace morvane {

// The view's pixels as the web engine last drew them into the view's own widgets, without
// the screen: for a desktop whose screen a program cannot read. The widget that shows the
// page keeps the engine's last frame as a whole picture, drawn at once; reading it gives the
// pixels the screen shows of the view, in device pixels, once that frame has reached it.
class ViewPagePixels final : public PagePixels {
public:
    explicit ViewPagePixels(QWidget& view) : view_(&view) {}
    // The rectangle, in device pixels from the view's top-left corner; what lies outside the
    // view is black. Nothing once the view is gone.
    QImage grab(const QRect& rect) override;
    // The engine's frame is put into the widget whole, in one step: whatever it has drawn
    // can be read at once, and there is nothing to wait for here.

private:
    QPointer<QWidget> view_;
};

} // namespace morvane
