#include "ViewPagePixels.h"

#include <QImage>
#include <QRegion>
#include <QtMath>

namespace morvane {

namespace {

// The nearest logical coordinate at or before device coordinate d that falls on a whole
// device pixel, so that the widget's picture is drawn unscaled and unshifted from there.
int alignedStart(int d, qreal ratio) {
    int logical = qFloor(d / ratio);
    while (logical > 0 && !qFuzzyIsNull(logical * ratio - qRound(logical * ratio))) {
        --logical;
    }
    return logical;
}

} // namespace

QImage ViewPagePixels::grab(const QRect& rect) {
    if (!view_ || rect.isEmpty()) {
        return {};
    }
    const qreal ratio = view_->devicePixelRatioF();
    // Drawn in logical pixels over an area that holds the rectangle, then cut to it.
    const QPoint from(alignedStart(rect.left(), ratio), alignedStart(rect.top(), ratio));
    const QPoint to(qCeil((rect.right() + 1) / ratio), qCeil((rect.bottom() + 1) / ratio));
    const QRect logical(from, to - QPoint(1, 1));
    const QPoint origin(qRound(from.x() * ratio), qRound(from.y() * ratio));
    QImage image(qCeil(logical.width() * ratio), qCeil(logical.height() * ratio),
                 QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    image.fill(Qt::black);
    image.setDevicePixelRatio(ratio);
    const QRect inView = logical.intersected(view_->rect());
    if (!inView.isEmpty()) {
        // The source's top-left corner lands at the target offset.
        view_->render(&image, inView.topLeft() - logical.topLeft(), QRegion(inView));
    }
    image.setDevicePixelRatio(1.0);
    return image.copy(rect.translated(-origin));
}

} // namespace morvane
