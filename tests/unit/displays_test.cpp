// Screen pixels of every TrueColor layout read into RGB32, and what a grab covers: the
// primary monitor for the full screen, and never more than the screen for a window.
#include "capture/Grabber.h"
#include "platform/ScreenPixels.h"
#include "support/MemoryDesktop.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct LayoutCase {
    const char* name;
    PixelLayout layout;
    // Red, green, blue, white, black and a mid colour as the screen stores them.
    std::array<std::uint32_t, 6> pixels;
    QRgb mid;
};

// Three pixels a row, two rows, each row padded to the layout's scanline pad.
std::vector<std::uint8_t> serverRows(const LayoutCase& c, std::size_t stride) {
    const int bytes = c.layout.bitsPerPixel / 8;
    std::vector<std::uint8_t> data(stride * 2, 0xee);
    for (std::size_t i = 0; i < c.pixels.size(); ++i) {
        std::uint8_t* at =
            data.data() + stride * (i / 3) + (i % 3) * static_cast<std::size_t>(bytes);
        for (int b = 0; b < bytes; ++b) {
            const int shift = 8 * (c.layout.mostSignificantByteFirst ? bytes - 1 - b : b);
            at[b] = static_cast<std::uint8_t>(c.pixels[i] >> shift);
        }
    }
    return data;
}

class ScreenPixels : public ::testing::TestWithParam<LayoutCase> {};

} // namespace

TEST_P(ScreenPixels, EveryLayoutGivesTheSameColours) {
    const LayoutCase& c = GetParam();
    const PixelConverter converter(c.layout);
    ASSERT_TRUE(converter.isValid());
    const std::size_t stride = converter.bytesPerRow(3);
    EXPECT_EQ(stride % static_cast<std::size_t>(c.layout.scanlinePad / 8), 0u);
    const auto data = serverRows(c, stride);

    QImage image(5, 4, QImage::Format_RGB32);
    image.fill(0xff123123);
    converter.convert(data.data(), 3, 2, image, QPoint(1, 1));
    const QRgb expected[] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff, 0xff000000, c.mid};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(image.pixel(1 + i % 3, 1 + i / 3), expected[i]) << c.name << " pixel " << i;
    }
    EXPECT_EQ(image.pixel(0, 1), 0xff123123u); // nothing written beside the rows
    EXPECT_EQ(image.pixel(4, 2), 0xff123123u);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ScreenPixels,
    ::testing::Values(LayoutCase{"rgb32",
                                 {32, 32, false, 0xff0000, 0xff00, 0xff},
                                 {0xff0000, 0xff00, 0xff, 0xffffff, 0, 0x123456},
                                 0xff123456},
                      LayoutCase{"bgr32 msb",
                                 {32, 32, true, 0xff, 0xff00, 0xff0000},
                                 {0xff, 0xff00, 0xff0000, 0xffffff, 0, 0x563412},
                                 0xff123456},
                      LayoutCase{"packed24",
                                 {24, 32, false, 0xff0000, 0xff00, 0xff},
                                 {0xff0000, 0xff00, 0xff, 0xffffff, 0, 0x123456},
                                 0xff123456},
                      LayoutCase{"packed24 msb",
                                 {24, 8, true, 0xff0000, 0xff00, 0xff},
                                 {0xff0000, 0xff00, 0xff, 0xffffff, 0, 0x123456},
                                 0xff123456},
                      LayoutCase{"rgb565",
                                 {16, 32, false, 0xf800, 0x07e0, 0x1f},
                                 {0xf800, 0x07e0, 0x1f, 0xffff, 0, 0x8410},
                                 0xff848284},
                      LayoutCase{"rgb555 msb",
                                 {16, 16, true, 0x7c00, 0x03e0, 0x1f},
                                 {0x7c00, 0x03e0, 0x1f, 0x7fff, 0, 0x4210},
                                 0xff848484},
                      LayoutCase{"rgb30",
                                 {32, 32, false, 0x3ff00000, 0xffc00, 0x3ff},
                                 {0x3ff00000, 0xffc00, 0x3ff, 0x3fffffff, 0, 0x20040300},
                                 0xff8040bf}),
    [](const auto& param) {
        std::string name = param.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(ScreenPixelLayouts, UnreadableLayoutsAreRefused) {
    EXPECT_FALSE(PixelConverter(PixelLayout{8, 32, false, 0xe0, 0x1c, 0x03}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{32, 32, false, 0xff0000, 0xff0000, 0xff}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{32, 32, false, 0xf0f000, 0xff00, 0xff}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{16, 32, false, 0xff0000, 0xff00, 0xff}).isValid());
    EXPECT_FALSE(PixelConverter(PixelLayout{32, 32, false, 0, 0xff00, 0xff}).isValid());
    EXPECT_FALSE(PixelConverter().isValid());
}

TEST(GrabBounds, FullScreenIsThePrimaryAndWindowsStayOnTheScreen) {
    MemoryDesktop desktop(QSize(200, 100));
    desktop.framebuffer().fill(0xff0000ff);
    QImage dot(1, 1, QImage::Format_ARGB32_Premultiplied);
    dot.fill(0xffffffff);
    desktop.setPointerImage(PointerImage{dot, QPoint(0, 0)});

    EXPECT_EQ(GrabFullScreen(desktop, QPoint(), false).size(), QSize(200, 100));
    // A right-hand primary: its own pixels, the pointer placed from its origin.
    desktop.setPrimary(QRect(120, 0, 80, 100));
    desktop.framebuffer().setPixel(120, 0, 0xff00ff00);
    const QImage primary = GrabFullScreen(desktop, QPoint(150, 50), true);
    ASSERT_EQ(primary.size(), QSize(80, 100));
    EXPECT_EQ(primary.pixel(0, 0), 0xff00ff00u);
    EXPECT_EQ(primary.pixel(30, 50), 0xffffffffu);

    // A window far larger than the screen, reaching past its left and bottom edges.
    const WindowId huge = desktop.add({.rect = QRect(-30000, 80, 32767, 32767)});
    const QImage window = GrabWindowRect(desktop, huge, QPoint(10, 90), true);
    ASSERT_EQ(window.size(), QSize(200, 20));
    EXPECT_EQ(window.pixel(10, 10), 0xffffffffu);
    // Wholly off the screen: nothing to capture.
    const WindowId away = desktop.add({.rect = QRect(300, 300, 50, 50)});
    EXPECT_TRUE(GrabWindowRect(desktop, away, QPoint(), false).isNull());
}
