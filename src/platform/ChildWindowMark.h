#pragma once

#include "Desktop.h"

#include <QByteArray>
#include <QRect>

namespace morvane {

// An unmapped, input-only child window that carries a class name and follows a rectangle
// inside one of the program's top-level windows. It shows nothing and takes no input; it
// only tells whoever walks the window tree where a part of the window lies (the browser
// window marks its page view this way, as any browser's view window is found).
class ChildWindowMark {
public:
    explicit ChildWindowMark(QByteArray className) : className_(std::move(className)) {}
    ChildWindowMark(const ChildWindowMark&) = delete;
    ChildWindowMark& operator=(const ChildWindowMark&) = delete;

    // Puts the mark at the rectangle, in the coordinates of the top-level window's inside.
    // The first call, and the first after the top-level window was made anew, creates it.
    void place(WindowId topLevel, const QRect& rect);
    // The top-level window may have been made anew: the next place() creates the mark again.
    void forget() { parent_ = 0; }

private:
    QByteArray className_;
    WindowId window_ = 0;
    WindowId parent_ = 0;
};

} // namespace morvane
