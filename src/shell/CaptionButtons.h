#pragma once

#include <QObject>

class QLabel;
class QPixmap;
class QWidget;

namespace morvane {

// The parts of a borderless window's drawn caption, and the pictures of its two buttons.
struct CaptionParts {
    QLabel* strip; // the title strip, under the others
    QLabel* icon;
    QLabel* title;
    QLabel* minimise; // the minimise button
    QLabel* close;    // the close button
    const QPixmap* minimisePlain;
    const QPixmap* minimiseLit;
    const QPixmap* closePlain;
    const QPixmap* closeLit;
};

// Makes the drawn caption work, as an event filter on the window and its caption parts:
// moves over the window's bare background and the title strip show both buttons plain,
// moves over a button light it; a left press on a button shows it plain again and the
// release on it minimises or closes the window, wherever the pointer is then; presses on the
// icon, the title and the strip drag the window. While the window is disabled (the browser
// window is open) its controls take no clicks, but a left click on the close button still
// closes it: that is taken from the native window, whose events come first.
class CaptionButtons : public QObject {
public:
    CaptionButtons(QWidget& window, const CaptionParts& parts);

    // Shows the pictures on the two buttons; nullptr leaves one as is.
    void show(const QPixmap* minimise, const QPixmap* close);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool windowEvent(QEvent* event);
    bool nativeWindowEvent(QEvent* event);
    void drag(Qt::MouseButton button);

    QWidget& window_;
    CaptionParts parts_;
};

} // namespace morvane
