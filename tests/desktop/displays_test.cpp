// Captures on screens other than one 24-bit monitor: a screen split into two monitors, and
// 16- and 30-bit colour depths. Each group runs on an X server started for it.
#include "capture/Dispatcher.h"
#include "platform/X11Desktop.h"
#include "support/DesktopTools.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"
#include "support/TestWindows.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace morvane;
using test::runTool;

namespace {

void xrandr(const QString& arguments) {
    runTool(QStringLiteral("xrandr"), arguments.split(QLatin1Char(' ')));
}

class DisplaysCapture : public ::testing::Test {
protected:
    DisplaysCapture() { host.folder = dir.path(); } // full-screen mode

    QImage captureFile() {
        dispatcher.DoCapture();
        return QImage(dispatcher.lastFile(), "BMP").convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir dir;
    test::TestWindows windows;
    X11Desktop desktop;
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    QtClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
};

// The 3840 x 1080 screen split into two monitors; the parameter is the primary's x.
class DisplaysPrimary : public DisplaysCapture, public ::testing::WithParamInterface<int> {
protected:
    ~DisplaysPrimary() override {
        xrandr(QStringLiteral("--delmonitor Primary"));
        xrandr(QStringLiteral("--delmonitor Other"));
    }
};

} // namespace

TEST_P(DisplaysPrimary, FullScreenIsThePrimaryMonitor) {
    EXPECT_EQ(desktop.primaryScreenRect(), QRect(0, 0, 3840, 1080)); // none marked yet
    const int left = GetParam();
    xrandr(QStringLiteral("--setmonitor *Primary 1920/508x1080/285+%1+0 none").arg(left));
    xrandr(QStringLiteral("--setmonitor Other 1920/508x1080/285+%1+0 none").arg(1920 - left));
    windows.create({.rect = QRect(0, 0, 1920, 1080),
                    .colour = 0xff203040,
                    .title = "Left",
                    .overrideRedirect = true});
    windows.create({.rect = QRect(1920, 0, 1920, 1080),
                    .colour = 0xff405060,
                    .title = "Right",
                    .overrideRedirect = true});
    windows.create(
        {.rect = QRect(left + 100, 200, 10, 10), .colour = 0xffff8000, .overrideRedirect = true});
    windows.warpPointer(QPoint(left + 960, 540));

    const QImage picture = captureFile();
    ASSERT_EQ(picture.size(), QSize(1920, 1080));
    const QRgb own = left == 0 ? 0xff203040 : 0xff405060;
    EXPECT_EQ(picture.pixel(0, 0), own);
    EXPECT_EQ(picture.pixel(1919, 1079), own);
    EXPECT_EQ(picture.pixel(105, 205), 0xffff8000u);
}

INSTANTIATE_TEST_SUITE_P(LeftAndRight, DisplaysPrimary, ::testing::Values(0, 1920));

TEST_F(DisplaysCapture, ScreenSizeFollowsTheRoot) {
    xrandr(QStringLiteral("--fb 1600x900"));
    EXPECT_TRUE(test::waitUntil([&] { return desktop.screenSize() == QSize(1600, 900); }, 5000));
    xrandr(QStringLiteral("--fb 3840x1080"));
    EXPECT_TRUE(test::waitUntil([&] { return desktop.screenSize() == QSize(3840, 1080); }, 5000));
}

// A window per colour, filled with the screen's own pixel value for it: red, green, blue,
// white, black and two mid colours at the depth's precision.
TEST_F(DisplaysCapture, DepthsOtherThan24AreConverted) {
    const int depth =
        xcb_setup_roots_iterator(xcb_get_setup(windows.connection())).data->root_depth;
    const QList<std::pair<std::uint32_t, QRgb>> colours =
        depth == 16
            ? QList<std::pair<std::uint32_t, QRgb>>{{0xf800, 0xffff0000}, {0x07e0, 0xff00ff00},
                                                    {0x001f, 0xff0000ff}, {0xffff, 0xffffffff},
                                                    {0x0000, 0xff000000}, {0x8410, 0xff848284},
                                                    {0x2945, 0xff292829}}
            : QList<std::pair<std::uint32_t, QRgb>>{
                  {0x3ff00000, 0xffff0000}, {0x000ffc00, 0xff00ff00}, {0x000003ff, 0xff0000ff},
                  {0x3fffffff, 0xffffffff}, {0x00000000, 0xff000000}, {0x20040300, 0xff8040bf},
                  {0x00401004, 0xff010101}};
    ASSERT_TRUE(depth == 16 || depth == 30) << "runs on a 16- or 30-bit screen, not " << depth;
    for (int i = 0; i < colours.size(); ++i) {
        const WindowId w =
            windows.create({.rect = QRect(100 + 60 * i, 100, 50, 50), .overrideRedirect = true});
        xcb_change_window_attributes(windows.connection(), w, XCB_CW_BACK_PIXEL, &colours[i].first);
        xcb_clear_area(windows.connection(), 0, w, 0, 0, 0, 0);
    }
    windows.sync();

    const QImage picture = captureFile();
    ASSERT_EQ(picture.size(), QSize(1920, 1080));
    for (int i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(picture.pixel(125 + 60 * i, 125), colours[i].second) << "colour " << i;
    }
    EXPECT_EQ(test::clipboardFromOutside(), picture);
    // GetImage replies read what shared memory reads, also rows of an odd width.
    X11Desktop replies(X11Desktop::PixelTransfer::Replies);
    EXPECT_EQ(replies.grabScreen(QRect(101, 101, 397, 3)), picture.copy(101, 101, 397, 3));
}
