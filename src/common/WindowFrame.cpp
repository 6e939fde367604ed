#include "WindowFrame.h"

#include <QWidget>
#include <QWindow>

namespace morvane {

QRect outerGeometry(const QWidget& window) {
    const QWindow* handle = window.windowHandle();
    if (!window.isWindow() || !handle) {
        return window.frameGeometry();
    }
    return window.geometry().marginsAdded(handle->frameMargins());
}

void moveOuterTo(QWidget& window, QPoint topLeft) {
    // QWidget::move puts the inside where pos() would put it: that offset is taken back out
    // and the frame's own put in.
    window.move(topLeft + window.pos() - outerGeometry(window).topLeft());
}

} // namespace morvane
