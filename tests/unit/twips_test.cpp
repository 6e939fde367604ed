#include "common/Twips.h"

#include <gtest/gtest.h>

using namespace morvane;

TEST(Twips, FactorFollowsEachAxisOwnResolution) {
    const TwipsPerPixel common = twipsPerPixelForDpi(96, 96);
    EXPECT_DOUBLE_EQ(common.x, 15.0);
    EXPECT_DOUBLE_EQ(common.y, 15.0);
    const TwipsPerPixel uneven = twipsPerPixelForDpi(120, 144);
    EXPECT_DOUBLE_EQ(uneven.x, 12.0);
    EXPECT_DOUBLE_EQ(uneven.y, 10.0);
    // A screen that reports nothing is taken as 96 DPI rather than dividing by zero.
    EXPECT_DOUBLE_EQ(twipsPerPixelForDpi(0, -1).x, 15.0);
}

TEST(Twips, PixelsRoundHalfToEven) {
    EXPECT_EQ(twipsToPixels(7320, 15), 488);
    EXPECT_EQ(twipsToPixels(430, 15), 29); // 28.67
    EXPECT_EQ(twipsToPixels(275, 15), 18); // 18.33
    EXPECT_EQ(twipsToPixels(270, 12), 22); // 22.5 goes to the even neighbour
    EXPECT_EQ(twipsToPixels(30, 12), 2);   // 2.5
    EXPECT_EQ(twipsToPixels(42, 12), 4);   // 3.5
}

TEST(Twips, MainWindowClientAreaAtCommonResolutions) {
    const QRect at96 = twipsRectToPixels(0, 0, 7320, 2760, twipsPerPixelForDpi(96, 96));
    EXPECT_EQ(at96.size(), QSize(488, 184));
    const QRect at144 = twipsRectToPixels(120, 960, 7320, 2760, twipsPerPixelForDpi(144, 144));
    EXPECT_EQ(at144, QRect(12, 96, 732, 276));
}
