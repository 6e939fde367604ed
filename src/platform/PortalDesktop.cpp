#include "PortalDesktop.h"

#include "PortalScreenShot.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace morvane {

namespace {

// Long enough for the user to answer the desktop's question the first time.
constexpr std::chrono::seconds kPortalDeadline(30);

} // namespace

PortalDesktop::PortalDesktop(QString desktopName) : desktopName_(std::move(desktopName)) {}

PortalDesktop::~PortalDesktop() = default;

QPoint PortalDesktop::pointerPosition() {
    // Every request starts here. Until a grab says otherwise, what stops a request is that the
    // desktop does not tell which window is under the pointer: only the full screen is grabbed.
    grabFailure_ = QStringLiteral("%1 不让程序得知鼠标下的窗口，此模式无法抓图，请改用全屏模式")
                       .arg(desktopName_);
    return primaryScreenRect().center();
}

QSize PortalDesktop::screenSize() {
    QRect all;
    for (const QScreen* screen : QGuiApplication::screens()) {
        all = all.united(screen->geometry());
    }
    return QSize(all.right() + 1, all.bottom() + 1).expandedTo(QSize(0, 0));
}

QRect PortalDesktop::primaryScreenRect() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect(QPoint(0, 0), screenSize());
}

QImage PortalDesktop::cut(const QImage& desktop, QSize desktopSize, const QRect& rect) {
    if (desktop.size() == desktopSize && desktop.rect().contains(rect)) {
        return desktop.copy(rect); // the usual case: one pixel for each, inside the picture
    }
    QImage image(rect.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    if (desktopSize.isEmpty() || desktop.isNull()) {
        return image;
    }
    // The portal's picture has the desktop's device pixels, which a scaled desktop has more of
    // than screen pixels.
    const qreal sx = qreal(desktop.width()) / desktopSize.width();
    const qreal sy = qreal(desktop.height()) / desktopSize.height();
    const QRectF source(rect.x() * sx, rect.y() * sy, rect.width() * sx, rect.height() * sy);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, sx != 1.0 || sy != 1.0);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(rect.size())), desktop, source);
    return image;
}

QImage PortalDesktop::grabScreen(const QRect& rect) {
    grabFailure_.clear();
    if (rect.isEmpty()) {
        return {};
    }
    if (!portal_) {
        QString whyNot;
        portal_ = PortalScreenShot::open(&whyNot);
        if (!portal_) {
            grabFailure_ = QStringLiteral("没有会话总线，无法向桌面要截图（%1）").arg(whyNot);
            return {};
        }
    }
    const QImage desktop = portal_->capture(kPortalDeadline);
    if (desktop.isNull()) {
        grabFailure_ = portal_->failure();
        return {};
    }
    return cut(desktop, screenSize(), rect);
}

} // namespace morvane
