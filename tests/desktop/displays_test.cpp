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

class DisplaysCapture : public ::testing::Test {
protected:
    DisplaysCapture() { host.folder = dir.path(); }

    QImage captureFile() {
        dispatcher.DoCapture();
        return QImage(dispatcher.lastFile(), "BMP").convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir dir;
    test::TestWindows windows;
    X11Desktop desktop;
    test::RecordingHost host; // full-screen mode
    test::RecordingPrompts prompts;
    QtClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
};

// The 3840 x 1080 screen split into two monitors, the primary one at this x.
class DisplaysPrimary : public DisplaysCapture, public ::testing::WithParamInterface<int> {
protected:
    ~DisplaysPrimary() override {
        for (const char* name : {"Primary", "Other"}) {
            runTool(QStringLiteral("xrandr"),
                    {QStringLiteral("--delmonitor"), QLatin1String(name)});
        }
    }
    static void setMonitor(const QString& name, int x) {
        runTool(QStringLiteral("xrandr"),
                {QStringLiteral("--setmonitor"), name,
                 QStringLiteral("1920/508x1080/285+%1+0").arg(x), QStringLiteral("none")});
    }
};

} // namespace

TEST_P(DisplaysPrimary, FullScreenIsThePrimaryMonitor) {
    ASSERT_EQ(desktop.screenSize(), QSize(3840, 1080));
    // No monitor marked primary: the whole screen.
    EXPECT_EQ(desktop.primaryScreenRect(), QRect(0, 0, 3840, 1080));

    const int left = GetParam();
    setMonitor(QStringLiteral("*Primary"), left);
    setMonitor(QStringLiteral("Other"), 1920 - left);
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
    EXPECT_EQ(dispatcher.lastFile(),
              dir.path() + (left == 0 ? "/Lefttemp1.bmp" : "/Righttemp1.bmp"));
}

INSTANTIATE_TEST_SUITE_P(LeftAndRight, DisplaysPrimary, ::testing::Values(0, 1920));

// The screen's size follows the root window when it is resized.
TEST_F(DisplaysCapture, ScreenSizeFollowsTheRoot) {
    const QSize before = desktop.screenSize();
    runTool(QStringLiteral("xrandr"), {QStringLiteral("--fb"), QStringLiteral("1600x900")});
    EXPECT_TRUE(test::waitUntil([&] { return desktop.screenSize() == QSize(1600, 900); }, 5000));
    runTool(
        QStringLiteral("xrandr"),
        {QStringLiteral("--fb"), QStringLiteral("%1x%2").arg(before.width()).arg(before.height())});
    EXPECT_TRUE(test::waitUntil([&] { return desktop.screenSize() == before; }, 5000));
}

// Known colours on a screen of 16 or 30 bits: a window per colour, filled with the screen's
// own pixel value, and the RGB that value stands for.
TEST_F(DisplaysCapture, DepthsOtherThan24AreConverted) {
    struct Colour {
        std::uint32_t pixel;
        QRgb rgb;
    };
    const int depth =
        xcb_setup_roots_iterator(xcb_get_setup(windows.connection())).data->root_depth;
    QList<Colour> colours;
    if (depth == 16) { // 5:6:5
        colours = {{0xf800, 0xffff0000}, {0x07e0, 0xff00ff00}, {0x001f, 0xff0000ff},
                   {0xffff, 0xffffffff}, {0x0000, 0xff000000}, {0x8410, 0xff848284},
                   {0x2945, 0xff292829}};
    } else if (depth == 30) { // 10:10:10
        colours = {{0x3ff00000, 0xffff0000}, {0x000ffc00, 0xff00ff00}, {0x000003ff, 0xff0000ff},
                   {0x3fffffff, 0xffffffff}, {0x00000000, 0xff000000}, {0x20040300, 0xff8040bf},
                   {0x00401004, 0xff010101}};
    } else {
        FAIL() << "this test runs on a 16- or 30-bit screen, not " << depth;
    }
    for (qsizetype i = 0; i < colours.size(); ++i) {
        const WindowId w =
            windows.create({.rect = QRect(100 + 60 * static_cast<int>(i), 100, 50, 50),
                            .title = "Colours",
                            .overrideRedirect = true});
        xcb_change_window_attributes(windows.connection(), w, XCB_CW_BACK_PIXEL, &colours[i].pixel);
        xcb_clear_area(windows.connection(), 0, w, 0, 0, 0, 0);
    }
    windows.sync();
    windows.warpPointer(QPoint(105, 105));

    const QImage picture = captureFile();
    ASSERT_EQ(picture.size(), QSize(1920, 1080)) << "no file on a " << depth << "-bit screen";
    for (qsizetype i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(picture.pixel(125 + 60 * static_cast<int>(i), 125), colours[i].rgb)
            << "colour " << i << " on a " << depth << "-bit screen";
    }
    EXPECT_EQ(test::clipboardFromOutside(), picture);

    // The plain GetImage replies read the same pixels as shared memory, also for an odd
    // width whose rows are padded.
    X11Desktop replies(X11Desktop::PixelTransfer::Replies);
    for (const QRect& area : {QRect(90, 90, 500, 80), QRect(101, 101, 397, 3)}) {
        EXPECT_EQ(replies.grabScreen(area), picture.copy(area));
        EXPECT_FALSE(replies.lastGrabSharedMemory());
    }
}
