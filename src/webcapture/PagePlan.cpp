#include "PagePlan.h"

#include <algorithm>

namespace morvane {

namespace {

class Planner {
public:
    explicit Planner(const PageMetrics& page) : p_(page) {}

    std::vector<PageCopy> run() {
        const int SH = p_.scrollHeight;
        const int CW = p_.clientWidth;
        const int CH = p_.clientHeight;
        if (SH <= kScrollStep) {
            // Too short for a band: the first view holds the whole page.
            copy(QRect(0, 0, CW, CH), QPoint(0, 0));
            columns(0, CH, 0);
            return std::move(copies_);
        }
        int y = 0;
        int i = 0;
        // Each pass covers at least one row, so the loop ends; the bound is a guard only.
        for (int pass = 0; y < SH - kScrollStep && pass < SH + 2; ++pass) {
            if (top_ == 0) {
                copy(QRect(0, 0, CW, CH), QPoint(0, 0));
                columns(0, CH, 0);
                y += std::max(CH, 1);
            } else {
                const int Yd = CH + kScrollStep * i;
                copy(QRect(0, CH - kScrollStep, CW, kScrollStep), QPoint(0, Yd));
                columns(Yd, kScrollStep, CH - kScrollStep);
                ++i;
                y += kScrollStep;
            }
            top_ = clamp(top_ + kScrollStep, SH - CH);
        }
        const int R = SH - y;
        const int Yd = CH + kScrollStep * i;
        copy(QRect(0, CH - R, CW, R), QPoint(0, Yd));
        columns(Yd, R, CH - R);
        return std::move(copies_);
    }

private:
    static int clamp(int position, int furthest) {
        return std::clamp(position, 0, std::max(furthest, 0));
    }

    void copy(const QRect& source, QPoint destination) {
        copies_.push_back({top_, left_, source, destination});
    }

    // The band's columns right of the first view, then back to the left edge.
    void columns(int Yd, int Hb, int Ys) {
        const int SW = p_.scrollWidth;
        const int CW = p_.clientWidth;
        int x = CW;
        if (x >= SW) {
            return;
        }
        while (x < SW - kScrollStep) {
            left_ = clamp(left_ + kScrollStep, SW - CW);
            copy(QRect(CW - kScrollStep, Ys, kScrollStep, Hb), QPoint(x, Yd));
            x += kScrollStep;
        }
        left_ = clamp(left_ + kScrollStep, SW - CW);
        const int RW = SW - x;
        copy(QRect(CW - RW, Ys, RW, Hb), QPoint(x, Yd));
        left_ = 0;
    }

    PageMetrics p_;
    int top_ = 0;
    int left_ = 0;
    std::vector<PageCopy> copies_;
};

} // namespace

std::vector<PageCopy> planPageCapture(const PageMetrics& page) {
    return Planner(page).run();
}

ScrollChoice chooseScrollElement(const ScrollProbe& root, const ScrollProbe& body,
                                 QSize viewOuter) {
    if (root.exists && body.exists) {
        if ((root.scrollTop | root.scrollLeft) != 0) {
            return ScrollChoice::Root;
        }
        if ((body.scrollTop | body.scrollLeft) != 0) {
            return ScrollChoice::Body;
        }
        const int H = viewOuter.height() - 2 * kViewBorder;
        const int W = viewOuter.width() - 2 * kViewBorder;
        const bool rootTaller = root.clientHeight > body.clientHeight && root.clientHeight <= H;
        const bool rootWider = root.clientWidth > body.clientWidth && root.clientWidth <= W;
        return rootTaller || rootWider ? ScrollChoice::Root : ScrollChoice::Body;
    }
    if (root.exists) {
        return ScrollChoice::Root;
    }
    if (body.exists) {
        return ScrollChoice::Body;
    }
    return ScrollChoice::Keep;
}

} // namespace morvane
