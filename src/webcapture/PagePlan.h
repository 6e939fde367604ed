#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <vector>

namespace morvane {

// Scroll step in both directions: the height of every full band and the width of every full
// column after the first view.
inline constexpr int kScrollStep = 199;
// The frame around the page's view, on each side.
inline constexpr int kViewBorder = 2;

// Page and view sizes of the scrolling element, in pixels.
struct PageMetrics {
    int scrollWidth = 0;  // SW
    int scrollHeight = 0; // SH
    int clientWidth = 0;  // CW
    int clientHeight = 0; // CH
};

// One screen copy of the whole-page capture: with the page scrolled to the position, the
// source rectangle of the view (view coordinates, the frame left out) goes to the destination
// point of the page image. Copies may reach past the image or have no area; drawing clips.
struct PageCopy {
    int scrollTop = 0;
    int scrollLeft = 0;
    QRect source;
    QPoint destination;

    bool operator==(const PageCopy&) const = default;
};

// Every copy of a whole-page capture, in order: the first view, then 199-row bands below it
// and, for each band, 199-pixel columns to its right, the last band and last column taking
// what remains. The page scrolls as a browser scrolls it: a position past the end stops at the
// end. A page at most 199 pixels high is taken as its first view, at the top of the image.
std::vector<PageCopy> planPageCapture(const PageMetrics& page);

// Which element scrolls the page.
enum class ScrollChoice { Root, Body, Keep };

struct ScrollProbe {
    bool exists = false;
    int scrollTop = 0;  // read back after writing 1
    int scrollLeft = 0; // read back after writing 1
    int clientWidth = 0;
    int clientHeight = 0;
};

// The document's root element when it scrolls, else the body when it scrolls; when neither
// does, the root if its visible area is larger than the body's and still fits the view's
// inside (viewOuter less the frame), else the body. A document with only one of the two
// takes that one; with neither, the earlier choice stays.
ScrollChoice chooseScrollElement(const ScrollProbe& root, const ScrollProbe& body, QSize viewOuter);

} // namespace morvane
