#include "MainLooks.h"

#include <QApplication>
#include <QBitmap>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace morvane::looks {

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

void setBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void keepDefaultLook(QWidget* widget) {
    QPalette palette = QApplication::palette(widget);
    palette.setResolveMask(~QPalette::ResolveMask(0));
    widget->setPalette(palette);
}

QLabel* transparentLabel(const QString& caption, QWidget* parent) {
    auto* result = new QLabel(caption, parent);
    result->setAttribute(Qt::WA_TranslucentBackground);
    return result;
}

void place(QWidget* control, int left, int top, int width, int height, TwipsPerPixel tpp) {
    QRect inPixels = twipsRectToPixels(left, top, width, height, tpp);
    // Label heights were measured for a bitmap face whose underline sits inside a 12-pixel
    // cell; the stand-in face is taller, so a label grows to its line height rather than
    // cut off its underline. Labels are transparent, so nothing else changes.
    if (const auto* text = qobject_cast<QLabel*>(control); text && !text->text().isEmpty()) {
        inPixels.setHeight(std::max(inPixels.height(), text->fontMetrics().lineSpacing()));
    }
    control->setGeometry(inPixels);
}

void placeWithNaturalHeight(QWidget* control, int left, int top, int width, TwipsPerPixel tpp) {
    const QRect inPixels = twipsRectToPixels(left, top, width, 0, tpp);
    control->setGeometry(inPixels.x(), inPixels.y(), inPixels.width(),
                         control->sizeHint().height());
}

void centreOnPrimaryScreen(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window.size());
        frame.moveCenter(screen->geometry().center());
        window.move(frame.topLeft());
    }
}

MainPictures loadMainPictures() {
    return {
        QPixmap(QStringLiteral(":/skin.bmp")),
        QPixmap(QStringLiteral(":/icon.png")),
        QPixmap(QStringLiteral(":/close.jpg")),
        QPixmap(QStringLiteral(":/minimise.jpg")),
        QPixmap(QStringLiteral(":/close-hot.jpg")),
        QPixmap(QStringLiteral(":/minimise-hot.jpg")),
        QCursor(QBitmap(QStringLiteral(":/hand.xbm")), QBitmap(QStringLiteral(":/hand-mask.xbm")),
                5, 0),
    };
}

} // namespace morvane::looks
