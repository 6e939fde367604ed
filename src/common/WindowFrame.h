#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

namespace morvane {

// A window's outer rectangle, the window manager's frame included, with the frame as the
// window manager last announced it. QWidget::frameGeometry() keeps the frame Qt knew at the
// window's last move or resize; the first of those can come before the window manager has
// said how wide its frame is, and a window that does not move again would be measured
// without a frame for good. The window's own margins are asked afresh once the window
// manager has announced them, at the latest when it shows the window in its frame.
QRect outerGeometry(const QWidget& window);

// Moves a window so that its outer rectangle (outerGeometry) starts at the point.
// QWidget::move places the frame Qt last knew there, which may be a frame of nothing.
void moveOuterTo(QWidget& window, QPoint topLeft);

} // namespace morvane
