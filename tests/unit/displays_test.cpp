// Screen layouts the test X servers cannot show, read into RGB32; and what a grab covers:
// the primary monitor for the full screen, never more than the screen for a window.
#include "capture/Grabber.h"
#include "platform/ScreenPixels.h"
#include "support/MemoryDesktop.h"

#include <gtest/gtest.h>

using namespace morvane;

struct LayoutCase {
    PixelLayout layout;
    std::array<std::uint32_t, 4> pixels; // red, green, white and a mid colour as stored
    QRgb mid = 0xff123456;
};

class ScreenPixels : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ScreenPixels, ReadsEveryTrueColorLayout) {
    const LayoutCase& c = GetParam();
    const PixelConverter converter(c.layout);
    ASSERT_TRUE(converter.isValid());
    // Two rows of two pixels, each row padded, written as the server orders bytes.
    const int bytes = c.layout.bitsPerPixel / 8;
    const std::size_t stride = converter.bytesPerRow(2);
    std::vector<std::uint8_t> data(stride * 2, 0xee);
    for (std::size_t i = 0; i < 4; ++i) {
        for (int b = 0; b < bytes; ++b) {
            const int shift = 8 * (c.layout.mostSignificantByteFirst ? bytes - 1 - b : b);
            data[stride * (i / 2) + (i % 2) * std::size_t(bytes) + std::size_t(b)] =
                static_cast<std::uint8_t>(c.pixels[i] >> shift);
        }
    }
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(0xff999999);
    converter.convert(data.data(), 2, 2, image, QPoint(1, 1));
    const QRgb expected[] = {0xffff0000, 0xff00ff00, 0xffffffff, c.mid};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image.pixel(1 + i % 2, 1 + i / 2), expected[i]) << i;
    }
    EXPECT_EQ(image.pixel(3, 1), 0xff999999u); // nothing beside the rows
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScreenPixels,
    ::testing::Values(
        LayoutCase{{24, 32, false, 0xff0000, 0xff00, 0xff}, {0xff0000, 0xff00, 0xffffff, 0x123456}},
        LayoutCase{{24, 8, true, 0xff0000, 0xff00, 0xff}, {0xff0000, 0xff00, 0xffffff, 0x123456}},
        LayoutCase{{32, 32, true, 0xff, 0xff00, 0xff0000}, {0xff, 0xff00, 0xffffff, 0x563412}},
        // 5:5:5, big-endian: 2, 6 and 10 of 31 are 16, 49 and 82 of 255
        LayoutCase{
            {16, 16, true, 0x7c00, 0x03e0, 0x1f}, {0x7c00, 0x03e0, 0x7fff, 0x08ca}, 0xff103152}));

TEST(ScreenPixelLayouts, UnreadableLayoutsAreRefused) {
    EXPECT_FALSE(PixelConverter(PixelLayout{8, 32, false, 0xe0, 0x1c, 0x03}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{32, 32, false, 0xff0000, 0xff0000, 0xff}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{32, 32, false, 0xf0f000, 0xff00, 0xff}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{16, 32, false, 0xff0000, 0xff00, 0xff}).isValid());
}

TEST(GrabBounds, FullScreenIsThePrimaryAndWindowsStayOnTheScreen) {
    MemoryDesktop desktop(QSize(200, 100));
    desktop.framebuffer().fill(0xff0000ff);
    QImage dot(1, 1, QImage::Format_ARGB32_Premultiplied);
    dot.fill(0xffffffff);
    desktop.setPointerImage(PointerImage{dot, QPoint(0, 0)});

    // A right-hand primary: its own pixels, the pointer placed from its origin.
    desktop.setPrimary(QRect(120, 0, 80, 100));
    desktop.framebuffer().setPixel(120, 0, 0xff00ff00);
    const QImage primary = GrabFullScreen(desktop, QPoint(150, 50), true);
    ASSERT_EQ(primary.size(), QSize(80, 100));
    EXPECT_EQ(primary.pixel(0, 0), 0xff00ff00u);
    EXPECT_EQ(primary.pixel(30, 50), 0xffffffffu);

    // A window far larger than the screen, past its left and bottom edges; one wholly off it.
    const WindowId huge = desktop.add({.rect = QRect(-30000, 80, 32767, 32767)});
    const QImage window = GrabWindowRect(desktop, huge, QPoint(10, 90), true);
    ASSERT_EQ(window.size(), QSize(200, 20));
    EXPECT_EQ(window.pixel(10, 10), 0xffffffffu);
    const WindowId away = desktop.add({.rect = QRect(300, 300, 50, 50)});
    EXPECT_TRUE(GrabWindowRect(desktop, away, QPoint(), false).isNull());
}
