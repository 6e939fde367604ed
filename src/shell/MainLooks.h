#pragma once

#include "common/Twips.h"

#include <QColor>
#include <QCursor>
#include <QPixmap>
#include <QString>

class QLabel;
class QWidget;

namespace morvane::looks {

// The main window's colours.
inline const QColor kSkinBlue(0, 162, 232);
inline const QColor kFrameTeal(0, 128, 128);
inline const QColor kFrameTitleGreen(0, 192, 0);
inline const QColor kOptionGreen(0, 255, 0);
inline const QColor kPaleGreen(192, 255, 192);
inline const QColor kTitleYellow(255, 255, 192);

void setTextColour(QWidget* widget, const QColor& colour);
void setBackground(QWidget* widget, const QColor& colour);

// The application's colours with every role fixed, so that none of the colours of the
// container the control sits in reaches it.
void keepDefaultLook(QWidget* widget);

// A label that leaves its background unpainted, so that the window's picture shows through.
QLabel* transparentLabel(const QString& caption, QWidget* parent);

// Option buttons and check boxes of the capture settings frame share one look: green text
// on the frame's own background, which they leave unpainted so that it shows through.
template <typename Button> Button* frameButton(const QString& caption, QWidget* parent) {
    auto* button = new Button(caption, parent);
    setTextColour(button, kOptionGreen);
    return button;
}

// Places a control at a rectangle given in twips. A label with text is at least one line
// high.
void place(QWidget* control, int left, int top, int width, int height, TwipsPerPixel tpp);
// Places a control at a position and width given in twips, with the height it asks for.
void placeWithNaturalHeight(QWidget* control, int left, int top, int width, TwipsPerPixel tpp);

// Centres a window (its client area) on the primary screen.
void centreOnPrimaryScreen(QWidget& window);

// The pictures the main window is drawn with.
struct MainPictures {
    QPixmap skin; // the background
    QPixmap icon;
    QPixmap close;
    QPixmap minimise;
    QPixmap closeLit;
    QPixmap minimiseLit;
    QCursor hand; // over the links
};
MainPictures loadMainPictures();

} // namespace morvane::looks
