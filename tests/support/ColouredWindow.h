#pragma once

#include <QDialog>
#include <QPalette>
#include <QWidget>
#include <memory>

namespace morvane::test {

// A plain window of one colour for the compositor tests, shown at once and placed by the
// desktop: of a fixed size when given one, a dialog of the owner when given one.
inline std::unique_ptr<QWidget> colouredWindow(const QString& title, QColor colour, QSize size = {},
                                               QWidget* owner = nullptr) {
    std::unique_ptr<QWidget> window =
        owner ? std::unique_ptr<QWidget>(new QDialog(owner)) : std::make_unique<QWidget>();
    window->setWindowTitle(title);
    if (size.isValid()) {
        window->setFixedSize(size);
    }
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, colour);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->show();
    return window;
}

} // namespace morvane::test
