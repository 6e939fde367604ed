#include "PictureBoxes.h"

#include <QMouseEvent>
#include <QPainter>

namespace morvane {

SizingPictureBox::SizingPictureBox(QWidget* parent) : QWidget(parent) {
    // The picture covers the whole box: nothing beneath needs drawing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SizingPictureBox::setPicture(const QImage& picture) {
    picture_ = picture;
    resize(picture_.size());
    update();
}

void SizingPictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    painter.drawImage(event->rect().topLeft(), picture_, event->rect());
}

void SizingPictureBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

void SizingPictureBox::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void SizingPictureBox::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void SizingPictureBox::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void SizingPictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

RectangleShape::RectangleShape(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void RectangleShape::paintEvent(QPaintEvent*) {
    if (width() <= 0 || height() <= 0) {
        return;
    }
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

} // namespace morvane
