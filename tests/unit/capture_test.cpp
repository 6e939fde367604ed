#include "capture/Dispatcher.h"
#include "capture/Grabber.h"
#include "support/MemoryDesktop.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

QImage loadBmp(const QString& path) {
    QImage image(path, "BMP");
    return image.convertToFormat(QImage::Format_RGB32);
}

class DispatcherTest : public ::testing::Test {
protected:
    DispatcherTest() {
        host.folder = dir.path();
        dispatcher.setReport(
            [this](const CaptureOutcome& outcome) { outcomes.push_back(outcome); });
    }

    // A dialog-like scene: an owner window, a dialog it owns with a child control.
    void buildScene() {
        owner = desktop.add(
            {.rect = QRect(100, 100, 400, 300), .title = "Owner", .className = "OwnerClass"},
            0xff0000ff);
        dialog = desktop.add({.rect = QRect(200, 150, 200, 100),
                              .title = "Dia:log",
                              .className = "DialogClass",
                              .transientFor = owner},
                             0xff00ff00);
        control = desktop.add({.parent = dialog,
                               .rect = QRect(220, 170, 50, 20),
                               .title = "OK",
                               .className = "Button"},
                              0xffff0000);
    }

    QTemporaryDir dir;
    MemoryDesktop desktop;
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    test::RecordingOpener opener;
    Dispatcher dispatcher{host, desktop, prompts, clipboard, &opener};
    WindowId owner = 0, dialog = 0, control = 0;
    std::vector<CaptureOutcome> outcomes;
};

} // namespace

TEST_F(DispatcherTest, EachModeCapturesItsTargetAndNamesTheFileAfterIt) {
    buildScene();
    desktop.setPointer(QPoint(230, 175)); // over the control

    host.mode = CaptureMode::Control;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.TargetWnd, control);
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/OKtemp1.bmp"));
    QImage picture = loadBmp(dispatcher.lastFile());
    EXPECT_EQ(picture.size(), QSize(50, 20));
    EXPECT_EQ(picture.pixel(0, 0), 0xffff0000u);

    host.mode = CaptureMode::Container;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.TargetWnd, dialog);
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/Dialogtemp1.bmp"));
    EXPECT_EQ(loadBmp(dispatcher.lastFile()).size(), QSize(200, 100));

    // The climb passes the dialog and goes on to its owner.
    host.mode = CaptureMode::Window;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.TargetWnd, owner);
    picture = loadBmp(dispatcher.lastFile());
    EXPECT_EQ(picture.size(), QSize(400, 300));
    EXPECT_EQ(picture.pixel(0, 0), 0xff0000ffu);
    EXPECT_EQ(picture.pixel(120, 70), 0xffff0000u); // the control, on top, is in it

    // Full screen: the whole screen, named after the window under the pointer.
    host.mode = CaptureMode::FullScreen;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/OKtemp2.bmp"));
    EXPECT_EQ(loadBmp(dispatcher.lastFile()).size(), QSize(1920, 1080));

    EXPECT_EQ(clipboard.images.size(), 4);
    EXPECT_EQ(clipboard.images.last(), host.held);
    EXPECT_EQ(host.disarmed, 4);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(DispatcherTest, ClimbAndContainerRules) {
    buildScene();
    // Container of a top-level with neither parent nor owner: the window itself.
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Container, owner), owner);
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Container, control), dialog);
    // One level only.
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Container, dialog), owner);
    // A "ThunderFormDC" window ends the climb, itself included.
    const WindowId form = desktop.add(
        {.parent = dialog, .rect = QRect(300, 200, 50, 20), .className = "ThunderFormDC"});
    const WindowId inner = desktop.add({.parent = form, .rect = QRect(305, 205, 10, 10)});
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Window, inner), form);
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Window, form), form);
    // Case matters, and only 19 bytes of a longer class name are compared.
    const WindowId lower = desktop.add({.parent = dialog, .className = "thunderformdc"});
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Window, lower), owner);
    // Owners that loop (possible on X) end the climb instead of hanging it.
    const WindowId a = desktop.add({.rect = QRect(0, 0, 10, 10)});
    const WindowId b = desktop.add({.rect = QRect(0, 0, 10, 10), .transientFor = a});
    desktop.window(a).transientFor = b;
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Window, b), a);
    // Modes that take the window under the pointer as it is.
    EXPECT_EQ(captureTarget(desktop, CaptureMode::Control, control), control);
    EXPECT_EQ(captureTarget(desktop, CaptureMode::FullScreen, control), control);
}

TEST_F(DispatcherTest, BlankSaveFolderIsRefusedWithAMessage) {
    buildScene();
    for (const QString& folder : {QString(), QStringLiteral("   ")}) {
        prompts.messages.clear();
        host.folder = folder;
        dispatcher.DoCapture();
        EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("请设置保存路径")});
        EXPECT_TRUE(clipboard.images.isEmpty());
        EXPECT_TRUE(dispatcher.lastFile().isEmpty());
    }
    EXPECT_EQ(host.disarmed, 2);
    EXPECT_EQ(desktop.pointerImageRequests(), 0);
}

TEST_F(DispatcherTest, FolderKeepsItsSpacesAndATrailingSlash) {
    const QString spaced = dir.path() + QStringLiteral("/ a ");
    ASSERT_TRUE(QDir().mkpath(spaced));
    host.folder = spaced + QStringLiteral("/");
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.lastFile(), spaced + QStringLiteral("//temp1.bmp"));
    EXPECT_TRUE(QFile::exists(spaced + QStringLiteral("/temp1.bmp")));
}

TEST_F(DispatcherTest, TitleIsCleanedButNotTrimmed) {
    desktop.add({.rect = QRect(0, 0, 100, 100), .title = QByteArray(" a:b*c?d\t\0 ", 11)},
                0xff111111);
    desktop.setPointer(QPoint(5, 5));
    host.mode = CaptureMode::Control;
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/ abcd temp1.bmp"));
}

TEST_F(DispatcherTest, WebModeHandsOnAddressesAndRefusesOtherText) {
    const WindowId bar =
        desktop.add({.rect = QRect(0, 0, 500, 30), .title = "  https://example.org/page  "});
    const WindowId local =
        desktop.add({.rect = QRect(0, 40, 500, 30), .title = "C:\\pages\\a.html"});
    const WindowId bare = desktop.add({.rect = QRect(0, 80, 500, 30), .title = "example.org"});
    (void)bar;
    (void)local;
    (void)bare;
    host.mode = CaptureMode::WebPage;

    desktop.setPointer(QPoint(10, 10));
    dispatcher.DoCapture();
    desktop.setPointer(QPoint(10, 50));
    dispatcher.DoCapture();
    EXPECT_EQ(opener.addresses, QStringList({QStringLiteral("https://example.org/page"),
                                             QStringLiteral("C:\\pages\\a.html")}));
    EXPECT_TRUE(prompts.messages.isEmpty());

    desktop.setPointer(QPoint(10, 90));
    dispatcher.DoCapture();
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("请将鼠标悬停在网页浏览器的地址栏上")});
    EXPECT_EQ(prompts.scopes, QList<MessageScope>{MessageScope::System});
    EXPECT_EQ(opener.addresses.size(), 2);
    // No grab, no file, in web mode.
    EXPECT_TRUE(clipboard.images.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_EQ(host.disarmed, 3);
}

TEST_F(DispatcherTest, RequestsDuringAPageCaptureAreIgnoredBeforeAnythingIsAsked) {
    desktop.add({.rect = QRect(0, 0, 500, 30), .title = "https://example.org/"}, 0xff112233);
    desktop.setPointer(QPoint(10, 10));
    test::FixedLookup bus;
    bus.hit = AccessibleHit{{{.rect = QRect(0, 0, 50, 20), .name = "Go"}}};
    dispatcher.setAccessibleLookup(&bus);
    opener.capturing = true;
    for (const CaptureMode mode :
         {CaptureMode::FullScreen, CaptureMode::Control, CaptureMode::Container,
          CaptureMode::Window, CaptureMode::WebPage}) {
        host.mode = mode;
        dispatcher.DoCapture();
    }
    host.folder.clear(); // not even a missing save folder is told
    dispatcher.DoCapture();
    EXPECT_EQ(bus.asked, 0);
    EXPECT_TRUE(clipboard.images.isEmpty());
    EXPECT_TRUE(opener.addresses.isEmpty());
    EXPECT_TRUE(prompts.messages.isEmpty());
    EXPECT_TRUE(outcomes.empty());
    EXPECT_EQ(host.disarmed, 6);

    // Once the stitch is over, the same request asks the bus and captures.
    opener.capturing = false;
    host.folder = dir.path();
    host.mode = CaptureMode::Control;
    dispatcher.DoCapture();
    EXPECT_EQ(bus.asked, 1);
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/Gotemp1.bmp"));
}

TEST_F(DispatcherTest, FailedWritesLeaveNoFileAndAreReported) {
    host.folder = dir.filePath(QStringLiteral("missing"));
    dispatcher.DoCapture();
    EXPECT_TRUE(dispatcher.lastFile().isEmpty());
    EXPECT_TRUE(prompts.messages.isEmpty());
    ASSERT_EQ(outcomes.size(), 1U);
    EXPECT_EQ(outcomes[0].kind, CaptureOutcome::Kind::NotWritten);
    EXPECT_EQ(host.disarmed, 1);
    // The grab itself still reached the clipboard and the holding picture.
    EXPECT_EQ(clipboard.images.size(), 1);
    EXPECT_FALSE(QDir(dir.path()).exists(QStringLiteral("missing")));
}

TEST_F(DispatcherTest, VanishedOrEmptyTargetsEndWithWhatTheyGot) {
    const WindowId gone = desktop.add({.rect = QRect(0, 0, 100, 100), .title = "Gone"});
    desktop.setPointer(QPoint(5, 5));
    desktop.remove(gone);
    host.mode = CaptureMode::Control;
    // The pointer is now over the root: the whole screen, no title.
    dispatcher.DoCapture();
    EXPECT_EQ(dispatcher.lastFile(), dir.path() + QStringLiteral("/temp1.bmp"));

    const WindowId empty = desktop.add({.rect = QRect(10, 10, 0, 0), .title = "Empty"});
    // A dialog whose owner has no size: the window capture gets no picture, and says so.
    desktop.add({.rect = QRect(300, 300, 50, 50), .title = "Dialog", .transientFor = empty});
    desktop.setPointer(QPoint(310, 310));
    host.mode = CaptureMode::Window;
    dispatcher.DoCapture();
    EXPECT_TRUE(dispatcher.lastFile().isEmpty());
    ASSERT_EQ(outcomes.size(), 2U);
    EXPECT_EQ(outcomes[0].kind, CaptureOutcome::Kind::Saved);
    EXPECT_EQ(outcomes[1].kind, CaptureOutcome::Kind::NoPicture);
    EXPECT_TRUE(GrabWindowRect(desktop, empty, QPoint(), false).isNull());
    EXPECT_TRUE(GrabWindowRect(desktop, gone, QPoint(), false).isNull());
}

TEST(PointerOverlay, HotspotLandsOnThePointerAndIsClipped) {
    EXPECT_EQ(overlayPosition(QPoint(100, 50), QPoint(90, 40), QPoint(3, 4)), QPoint(7, 6));
    EXPECT_EQ(overlayPosition(QPoint(0, 0), QPoint(0, 0), QPoint(8, 8)), QPoint(-8, -8));
    EXPECT_EQ(overlayPosition(QPoint(5, 5), QPoint(100, 100), QPoint(0, 0)), QPoint(-95, -95));

    // An opaque 4x4 pointer with a half-transparent corner and its hotspot at (1, 2).
    QImage arrow(4, 4, QImage::Format_ARGB32_Premultiplied);
    arrow.fill(0xffffffff);
    arrow.setPixel(3, 3, qPremultiply(qRgba(255, 255, 255, 128)));
    const PointerImage pointer{arrow, QPoint(1, 2)};

    MemoryDesktop desktop(QSize(20, 10));
    desktop.framebuffer().fill(0xff000000);
    desktop.setPointerImage(pointer);
    // At the bottom-right corner of the screen only the top-left of the pointer shows.
    const QImage capture = GrabFullScreen(desktop, QPoint(19, 9), true);
    EXPECT_EQ(capture.pixel(18, 7), 0xffffffffu); // image (0, 0)
    EXPECT_EQ(capture.pixel(19, 9), 0xffffffffu); // the hotspot
    EXPECT_EQ(capture.pixel(17, 9), 0xff000000u);
    EXPECT_EQ(capture.size(), QSize(20, 10));

    // Top-left corner, with a negative position: only the bottom-right shows, blended.
    const QImage corner = GrabFullScreen(desktop, QPoint(0, 0), true);
    EXPECT_EQ(corner.pixel(0, 0), 0xffffffffu); // image (1, 2)
    EXPECT_EQ(qRed(corner.pixel(2, 1)), 128);   // image (3, 3), half transparent over black
    EXPECT_EQ(corner.pixel(3, 0), 0xff000000u);

    // Hidden pointer: no overlay, no failure.
    desktop.setPointerImage(std::nullopt);
    const QImage plain = GrabFullScreen(desktop, QPoint(5, 5), true);
    EXPECT_EQ(plain.pixel(5, 5), 0xff000000u);
    // Unticked: the pointer is not even asked for.
    const int asked = desktop.pointerImageRequests();
    GrabFullScreen(desktop, QPoint(5, 5), false);
    EXPECT_EQ(desktop.pointerImageRequests(), asked);
}

TEST(MemoryGrab, OffScreenPartsStayBlack) {
    MemoryDesktop desktop(QSize(100, 100));
    desktop.framebuffer().fill(0xff336699);
    const QImage part = desktop.grabScreen(QRect(90, -5, 20, 10));
    ASSERT_EQ(part.size(), QSize(20, 10));
    EXPECT_EQ(part.pixel(0, 0), 0xff000000u);
    EXPECT_EQ(part.pixel(0, 5), 0xff336699u);
    EXPECT_EQ(part.pixel(10, 5), 0xff000000u);
}
