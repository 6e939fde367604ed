// The X11 desktop's answers about real windows on the private X server.
#include "platform/X11Desktop.h"
#include "support/TestWindows.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <vector>

using namespace morvane;

TEST(X11DesktopWindows, FindsTheDeepestViewableWindowUnderAPoint) {
    test::TestWindows windows;
    X11Desktop desktop;
    ASSERT_TRUE(desktop.isConnected());
    const WindowId lower = windows.create(
        {.rect = QRect(100, 100, 300, 300), .title = "Lower", .overrideRedirect = true});
    const WindowId upper = windows.create(
        {.rect = QRect(200, 200, 300, 300), .title = "Upper", .overrideRedirect = true});
    const WindowId child = windows.create({.rect = QRect(50, 50, 40, 40), .parent = upper});
    // Input-only windows catch no pixels and are passed over.
    windows.create({.rect = QRect(0, 0, 1920, 1080), .overrideRedirect = true, .inputOnly = true});
    // Nor is a minimised (unmapped) window above the others.
    const WindowId hidden =
        windows.create({.rect = QRect(100, 100, 100, 100), .overrideRedirect = true});
    windows.unmap(hidden);

    EXPECT_EQ(desktop.windowAt(QPoint(150, 150)), lower);
    EXPECT_EQ(desktop.windowAt(QPoint(300, 300)), upper);
    EXPECT_EQ(desktop.windowAt(QPoint(260, 260)), child);
    EXPECT_EQ(desktop.parentOf(child), upper);
    // Children come top of the stacking order first.
    const WindowId above = windows.create({.rect = QRect(0, 0, 10, 10), .parent = upper});
    EXPECT_EQ(desktop.children(upper), (QList<WindowId>{above, child}));
    EXPECT_EQ(desktop.parentOf(upper), 0u);
    // Nothing but the root far away from them.
    EXPECT_EQ(desktop.windowAt(QPoint(1500, 50)), windows.root());
    EXPECT_EQ(desktop.windowRect(child), QRect(250, 250, 40, 40));
}

TEST(X11DesktopWindows, FramesAnswerForTheirClientsAndLeadToOwners) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId owner = windows.create(
        {.rect = QRect(100, 100, 400, 300), .title = "Owner", .className = "OwnerClass"});
    const WindowId dialog = windows.create({.rect = QRect(700, 100, 300, 200),
                                            .title = "Dialog",
                                            .className = "DialogClass",
                                            .transientFor = owner});
    const WindowId unnamed = windows.create({.rect = QRect(10, 10, 50, 50), .parent = dialog});

    // The client's parent is the window manager's frame, which answers with the client's
    // title and class; the frame's own parent is the owner the dialog names.
    const WindowId frame = desktop.parentOf(dialog);
    ASSERT_NE(frame, 0u);
    ASSERT_NE(frame, dialog);
    WindowId topFrame = frame;
    while (desktop.parentOf(topFrame) != 0 && desktop.parentOf(topFrame) != owner) {
        topFrame = desktop.parentOf(topFrame);
    }
    EXPECT_EQ(desktop.parentOf(topFrame), owner);
    EXPECT_EQ(desktop.windowText(topFrame), QByteArray("Dialog"));
    EXPECT_EQ(desktop.className(topFrame), QByteArray("DialogClass"));
    EXPECT_TRUE(desktop.windowRect(topFrame).contains(windows.screenRect(dialog)));

    // The title bar lies above the client, inside the frame.
    const QRect client = windows.screenRect(dialog);
    const WindowId titleBar = desktop.windowAt(QPoint(client.center().x(), client.top() - 5));
    EXPECT_NE(titleBar, dialog);
    EXPECT_EQ(desktop.windowText(titleBar), QByteArray("Dialog"));
    EXPECT_EQ(desktop.className(titleBar), QByteArray("DialogClass"));

    // A child window of a client speaks for itself: no name, no class.
    EXPECT_EQ(desktop.windowText(unnamed), QByteArray());
    EXPECT_EQ(desktop.className(unnamed), QByteArray());
    EXPECT_EQ(desktop.parentOf(unnamed), dialog);
    // A top-level that names no owner has no parent.
    WindowId ownerTop = desktop.parentOf(owner);
    while (desktop.parentOf(ownerTop) != 0) {
        ownerTop = desktop.parentOf(ownerTop);
    }
    EXPECT_EQ(desktop.windowText(ownerTop), QByteArray("Owner"));
}

TEST(X11DesktopWindows, LongTitlesAreCutAtACharacterBoundary) {
    test::TestWindows windows;
    X11Desktop desktop;
    // 100 three-byte characters: 300 bytes; 254 bytes would end inside the 85th.
    const QByteArray title = QString(100, QChar(0x4E2D)).toUtf8();
    const WindowId w =
        windows.create({.rect = QRect(0, 0, 50, 50), .title = title, .overrideRedirect = true});
    const QByteArray text = desktop.windowText(w);
    EXPECT_EQ(text.size(), 252);
    EXPECT_EQ(QString::fromUtf8(text).toUtf8(), text);
}

TEST(X11DesktopWindows, BordersCountAndVanishedWindowsGiveEmptyAnswers) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId bordered = windows.create({.rect = QRect(300, 300, 100, 50),
                                              .title = "B",
                                              .overrideRedirect = true,
                                              .borderWidth = 3});
    EXPECT_EQ(desktop.windowRect(bordered), QRect(300, 300, 106, 56));
    // A child's position counts from the inside of its parent's border.
    const WindowId framed = windows.create(
        {.rect = QRect(500, 300, 200, 100), .overrideRedirect = true, .borderWidth = 10});
    const WindowId inner = windows.create({.rect = QRect(0, 0, 20, 20), .parent = framed});
    EXPECT_EQ(desktop.windowRect(framed), QRect(500, 300, 220, 120));
    EXPECT_EQ(desktop.windowRect(inner), QRect(510, 310, 20, 20));
    EXPECT_EQ(desktop.windowAt(QPoint(525, 325)), inner);
    EXPECT_EQ(desktop.windowAt(QPoint(535, 335)), framed);
    EXPECT_EQ(desktop.windowAt(QPoint(715, 415)), framed); // on the border

    windows.destroy(bordered);
    EXPECT_EQ(desktop.windowRect(bordered), QRect());
    EXPECT_EQ(desktop.windowText(bordered), QByteArray());
    EXPECT_EQ(desktop.className(bordered), QByteArray());
    EXPECT_EQ(desktop.parentOf(bordered), 0u);
    // Each of those questions ends in X errors; asked again and again they take no memory.
    const auto heap = [] { return static_cast<long long>(mallinfo2().uordblks); };
    const long long before = heap();
    for (int i = 0; i < 20000; ++i) {
        desktop.windowRect(bordered);
        desktop.windowText(bordered);
        desktop.parentOf(bordered);
    }
    EXPECT_LT(heap() - before, 200'000);
}

TEST(X11DesktopGrab, ExactColoursAndBlackBeyondTheScreen) {
    test::TestWindows windows;
    X11Desktop desktop;
    EXPECT_EQ(desktop.screenSize(), QSize(1920, 1080));
    windows.create(
        {.rect = QRect(1880, 1040, 40, 40), .colour = 0xff2468ac, .overrideRedirect = true});
    const QImage part = desktop.grabScreen(QRect(1870, 1030, 100, 100));
    ASSERT_EQ(part.size(), QSize(100, 100));
    EXPECT_EQ(part.pixel(15, 15), 0xff2468acu);
    EXPECT_EQ(part.pixel(49, 49), 0xff2468acu);
    EXPECT_EQ(part.pixel(50, 20) & 0xffffff, 0u);
    EXPECT_EQ(part.pixel(20, 50) & 0xffffff, 0u);
    EXPECT_EQ(part.pixel(99, 99) & 0xffffff, 0u);

    const QImage beyond = desktop.grabScreen(QRect(-200, -200, 50, 50));
    ASSERT_EQ(beyond.size(), QSize(50, 50));
    EXPECT_EQ(beyond.pixel(25, 25) & 0xffffff, 0u);
    EXPECT_TRUE(desktop.grabScreen(QRect()).isNull());

    // A second, larger grab reuses and grows the shared buffer.
    const QImage whole = desktop.grabScreen(QRect(0, 0, 1920, 1080));
    EXPECT_EQ(whole.pixel(1900, 1060), 0xff2468acu);

    // A buffer that held a bright picture, used again for a grab partly off the screen:
    // the part beyond the screen is black all the same.
    windows.create({.rect = QRect(0, 0, 100, 100), .colour = 0xffffffff, .overrideRedirect = true});
    EXPECT_EQ(desktop.grabScreen(QRect(0, 0, 100, 100)).pixel(99, 99), 0xffffffffu);
    EXPECT_EQ(desktop.grabScreen(QRect(1870, 1030, 100, 100)).pixel(99, 99) & 0xffffff, 0u);
}

TEST(X11DesktopGrab, HeldPicturesKeepTheirPixelsThroughLaterGrabs) {
    // A full-screen picture lives in the memory the server wrote it into: grabs that come
    // while it is held, more of them than there are segments to lend, use other memory,
    // and it outlives the desktop it came from.
    test::TestWindows windows;
    std::vector<QImage> held;
    {
        X11Desktop desktop;
        for (std::uint32_t i = 0; i < 6; ++i) {
            const QRgb colour = 0xff000000 | (0x102030 * (i + 1));
            windows.create(
                {.rect = QRect(0, 0, 1920, 1080), .colour = colour, .overrideRedirect = true});
            windows.sync();
            held.push_back(desktop.grabScreen(QRect(0, 0, 1920, 1080)));
            EXPECT_TRUE(desktop.lastGrabSharedMemory() || i >= 4) << i;
            // A small grab in between takes no segment from the full screens.
            EXPECT_EQ(desktop.grabScreen(QRect(10, 10, 4, 4)).pixel(1, 1), colour);
        }
    }
    for (std::uint32_t i = 0; i < held.size(); ++i) {
        ASSERT_EQ(held[i].size(), QSize(1920, 1080));
        EXPECT_EQ(held[i].pixel(960, 540), 0xff000000 | (0x102030 * (i + 1))) << i;
        EXPECT_EQ(held[i].pixel(1919, 1079), 0xff000000 | (0x102030 * (i + 1))) << i;
    }
}

TEST(X11DesktopGrab, PointerImageHasItsHotspotInside) {
    test::TestWindows windows;
    X11Desktop desktop;
    windows.warpPointer(QPoint(640, 480));
    EXPECT_EQ(desktop.pointerPosition(), QPoint(640, 480));
    const auto pointer = desktop.pointerImage();
    ASSERT_TRUE(pointer);
    EXPECT_FALSE(pointer->image.isNull());
    EXPECT_LE(pointer->image.width(), 256);
    EXPECT_TRUE(QRect(QPoint(), pointer->image.size()).contains(pointer->hotspot));
}

TEST(X11DesktopGrab, SharedMemoryAndPlainRepliesGiveTheSamePixels) {
    test::TestWindows windows;
    X11Desktop shared;
    X11Desktop replies(X11Desktop::PixelTransfer::Replies);
    // Colours side by side and a rectangle that reaches past the screen's corner.
    windows.create(
        {.rect = QRect(1700, 900, 120, 90), .colour = 0xff102030, .overrideRedirect = true});
    windows.create(
        {.rect = QRect(1790, 950, 200, 200), .colour = 0xffa0b0c0, .overrideRedirect = true});
    windows.create(
        {.rect = QRect(1850, 1000, 7, 3), .colour = 0xffff0001, .overrideRedirect = true});
    for (const QRect& area : {QRect(1650, 880, 300, 250), QRect(1851, 1001, 5, 1)}) {
        const QImage a = shared.grabScreen(area);
        const QImage b = replies.grabScreen(area);
        ASSERT_EQ(a.size(), area.size());
        EXPECT_TRUE(shared.lastGrabSharedMemory());
        EXPECT_FALSE(replies.lastGrabSharedMemory());
        EXPECT_EQ(a.convertToFormat(QImage::Format_RGB32), b.convertToFormat(QImage::Format_RGB32))
            << "at " << area.x() << "," << area.y();
    }
}

TEST(X11DesktopWindows, PropertiesAreReadByTheirTypes) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId window =
        windows.create({.rect = QRect(100, 700, 50, 50), .overrideRedirect = true});
    windows.setProperty(window, "WM_CLASS", "UTF8_STRING", 8,
                        QByteArray("shell\0Shell Embedding\0", 22));
    EXPECT_EQ(desktop.className(window), QByteArray("Shell Embedding"));

    // WM_NAME in each of its text types.
    const struct {
        const char* type;
        QByteArray bytes;
        const char* utf8;
    } titles[] = {
        {"STRING", "Caf\xe9", "Caf\xc3\xa9"},
        {"COMPOUND_TEXT", "\x1b$)A\xd6\xd0\xce\xc4", "\xe4\xb8\xad\xe6\x96\x87"},
        {"UTF8_STRING", "\xe4\xb8\xad", "\xe4\xb8\xad"},
    };
    for (const auto& title : titles) {
        windows.setProperty(window, "WM_NAME", title.type, 8, title.bytes);
        EXPECT_EQ(desktop.windowText(window), QByteArray(title.utf8)) << title.type;
    }

    // A client that names the root as its owner has none.
    windows.setProperty(window, "WM_STATE", "WM_STATE", 32, QByteArray(8, '\0'));
    const WindowId root = windows.root();
    windows.setProperty(window, "WM_TRANSIENT_FOR", "WINDOW", 32,
                        QByteArray(reinterpret_cast<const char*>(&root), sizeof root));
    EXPECT_EQ(desktop.parentOf(window), 0u);

    // A client-side decoration's margin: left, right, top, bottom; none past any sane size.
    const std::uint32_t sides[] = {10, 12, 6, 14};
    windows.setProperty(window, "_GTK_FRAME_EXTENTS", "CARDINAL", 32,
                        QByteArray(reinterpret_cast<const char*>(sides), sizeof sides));
    EXPECT_EQ(desktop.decorationMargins(window), QMargins(10, 6, 12, 14));
    const std::uint32_t huge[] = {10, 1U << 31, 6, 14};
    windows.setProperty(window, "_GTK_FRAME_EXTENTS", "CARDINAL", 32,
                        QByteArray(reinterpret_cast<const char*>(huge), sizeof huge));
    EXPECT_EQ(desktop.decorationMargins(window), QMargins());
}
