#include "capture/BrowserView.h"
#include "support/MemoryDesktop.h"
#include "webcapture/PagePlan.h"

#include <algorithm>

#include <gtest/gtest.h>

using namespace morvane;

namespace {

PageCopy at(int top, int left, QRect source, QPoint destination) {
    return {top, left, source, destination};
}

} // namespace

TEST(PagePlan, VerticalWorkedExample) {
    // View 1000 x 600, page 1000 x 1500.
    const auto copies = planPageCapture({1000, 1500, 1000, 600});
    const std::vector<PageCopy> expected = {
        at(0, 0, QRect(0, 0, 1000, 600), QPoint(0, 0)),
        at(199, 0, QRect(0, 401, 1000, 199), QPoint(0, 600)),
        at(398, 0, QRect(0, 401, 1000, 199), QPoint(0, 799)),
        at(597, 0, QRect(0, 401, 1000, 199), QPoint(0, 998)),
        at(796, 0, QRect(0, 401, 1000, 199), QPoint(0, 1197)),
        // The scroll position stopped at 900: the last 104 rows come from view rows 496-599.
        at(900, 0, QRect(0, 496, 1000, 104), QPoint(0, 1396)),
    };
    EXPECT_EQ(copies, expected);
}

TEST(PagePlan, HorizontalWorkedExample) {
    // View 1000 x 600 and a page 1500 wide that does not scroll down.
    const auto copies = planPageCapture({1500, 600, 1000, 600});
    ASSERT_GE(copies.size(), 4u);
    EXPECT_EQ(copies[0], at(0, 0, QRect(0, 0, 1000, 600), QPoint(0, 0)));
    EXPECT_EQ(copies[1], at(0, 199, QRect(801, 0, 199, 600), QPoint(1000, 0)));
    EXPECT_EQ(copies[2], at(0, 398, QRect(801, 0, 199, 600), QPoint(1199, 0)));
    // The scroll position stopped at 500: 102 columns from view columns 898-999.
    EXPECT_EQ(copies[3], at(0, 500, QRect(898, 0, 102, 600), QPoint(1398, 0)));
    // Then the last band: nothing left to copy, its columns as empty as it is.
    for (size_t k = 4; k < copies.size(); ++k) {
        EXPECT_EQ(copies[k].source.height(), 0);
    }
}

TEST(PagePlan, EveryBandHasItsColumnsAndTheyStartAtTheLeftAgain) {
    const auto copies = planPageCapture({1500, 1500, 1000, 600});
    // 6 bands of 4 copies each (the view or band, two full columns, the last column).
    ASSERT_EQ(copies.size(), 24u);
    EXPECT_EQ(copies[4], at(199, 0, QRect(0, 401, 1000, 199), QPoint(0, 600)));
    EXPECT_EQ(copies[5], at(199, 199, QRect(801, 401, 199, 199), QPoint(1000, 600)));
    EXPECT_EQ(copies[23], at(900, 500, QRect(898, 496, 102, 104), QPoint(1398, 1396)));
    // Together the copies cover every pixel of the page exactly once.
    std::vector<int> covered(1500 * 1500, 0);
    for (const PageCopy& c : copies) {
        const QRect onPage =
            QRect(c.destination, c.source.size()).intersected(QRect(0, 0, 1500, 1500));
        for (int y = onPage.top(); y <= onPage.bottom(); ++y) {
            for (int x = onPage.left(); x <= onPage.right(); ++x) {
                ++covered[static_cast<size_t>(y * 1500 + x)];
            }
        }
        // Each source lies inside the view, showing the page at the copy's scroll position.
        EXPECT_TRUE(c.source.isEmpty() || QRect(0, 0, 1000, 600).contains(c.source));
        if (!c.source.isEmpty()) {
            EXPECT_EQ(c.destination, c.source.topLeft() + QPoint(c.scrollLeft, c.scrollTop));
        }
    }
    EXPECT_TRUE(std::all_of(covered.begin(), covered.end(), [](int n) { return n == 1; }));
}

TEST(PagePlan, EdgeCases) {
    // No larger than the view: the first view, then an empty last band, no columns.
    auto copies = planPageCapture({800, 600, 1000, 600});
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[0], at(0, 0, QRect(0, 0, 1000, 600), QPoint(0, 0)));
    EXPECT_EQ(copies[1].source.height(), 0);
    EXPECT_EQ(copies[1].destination, QPoint(0, 600));

    // Shorter than the view but taller than a band: the last band's height is negative.
    copies = planPageCapture({1000, 400, 1000, 600});
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_EQ(copies[1].source.height(), -200);

    // Remaining width exactly 199: one full column, then a last one of 199.
    copies = planPageCapture({1398, 600, 1000, 600});
    ASSERT_GE(copies.size(), 3u);
    EXPECT_EQ(copies[1], at(0, 199, QRect(801, 0, 199, 600), QPoint(1000, 0)));
    EXPECT_EQ(copies[2], at(0, 398, QRect(801, 0, 199, 600), QPoint(1199, 0)));

    // At most 199 high: the whole page from the top of the first view, at the top.
    copies = planPageCapture({1000, 150, 1000, 150});
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(copies[0], at(0, 0, QRect(0, 0, 1000, 150), QPoint(0, 0)));
    // Exactly one band high, also in a taller view: still the top of the first view.
    for (const int CH : {199, 600}) {
        copies = planPageCapture({1000, 199, 1000, CH});
        ASSERT_EQ(copies.size(), 1u) << CH;
        EXPECT_EQ(copies[0], at(0, 0, QRect(0, 0, 1000, CH), QPoint(0, 0))) << CH;
    }

    // A view of no height still ends.
    EXPECT_FALSE(planPageCapture({100, 1000, 100, 0}).empty());
}

TEST(ScrollElement, Choice) {
    const QSize view(1004, 604); // inside 1000 x 600
    const ScrollProbe scrolls{true, 1, 1, 1000, 600};
    const ScrollProbe still{true, 0, 0, 1000, 600};
    // Both can scroll: the root wins; else whichever scrolls.
    EXPECT_EQ(chooseScrollElement(scrolls, scrolls, view), ScrollChoice::Root);
    EXPECT_EQ(chooseScrollElement(still, scrolls, view), ScrollChoice::Body);
    EXPECT_EQ(chooseScrollElement({true, 0, 1, 0, 0}, still, view), ScrollChoice::Root);
    // Neither scrolls: the root if its visible area is larger and fits the view.
    EXPECT_EQ(chooseScrollElement({true, 0, 0, 1000, 600}, {true, 0, 0, 1000, 300}, view),
              ScrollChoice::Root);
    EXPECT_EQ(chooseScrollElement({true, 0, 0, 1000, 601}, {true, 0, 0, 1000, 300}, view),
              ScrollChoice::Body);
    EXPECT_EQ(chooseScrollElement({true, 0, 0, 900, 300}, {true, 0, 0, 800, 300}, view),
              ScrollChoice::Root);
    EXPECT_EQ(chooseScrollElement(still, still, view), ScrollChoice::Body);
    // One element only, or none.
    EXPECT_EQ(chooseScrollElement(still, {}, view), ScrollChoice::Root);
    EXPECT_EQ(chooseScrollElement({}, still, view), ScrollChoice::Body);
    EXPECT_EQ(chooseScrollElement({}, {}, view), ScrollChoice::Keep);
}

TEST(FindBrowserView, OnlyDirectChildrenWithTheExactClassTopFirst) {
    MemoryDesktop desktop;
    const WindowId window = desktop.add({.rect = QRect(0, 0, 800, 600), .className = "Browser"});
    EXPECT_EQ(FindBrowserView(desktop, window), 0u);
    const WindowId bar = desktop.add({.parent = window, .className = "Toolbar"});
    const WindowId inner = desktop.add({.parent = bar, .className = "Shell Embedding"});
    (void)inner;
    EXPECT_EQ(FindBrowserView(desktop, window), 0u) << "a grandchild is not searched";
    desktop.add({.parent = window, .className = "Shell Embedding2"});
    desktop.add({.parent = window, .className = "shell embedding"});
    EXPECT_EQ(FindBrowserView(desktop, window), 0u);
    const WindowId lower = desktop.add({.parent = window, .className = "Shell Embedding"});
    EXPECT_EQ(FindBrowserView(desktop, window), lower);
    const WindowId upper = desktop.add({.parent = window, .className = "Shell Embedding"});
    EXPECT_EQ(FindBrowserView(desktop, window), upper);
    EXPECT_EQ(FindBrowserView(desktop, 999), 0u);
}
