#pragma once

#include <QImage>
#include <QWidget>

namespace morvane {

// A picture box that takes its picture's size whenever its picture is set and draws the
// picture at its natural size. It keeps every mouse event it is given, so a press on it
// never reaches the widget beneath.
class SizingPictureBox : public QWidget {
    Q_OBJECT

public:
    explicit SizingPictureBox(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage picture_;
};

// A rectangle outline, one pixel wide in the window-text colour, with no fill: what lies
// beneath shows through it, and the mouse passes through it.
class RectangleShape : public QWidget {
public:
    explicit RectangleShape(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace morvane
