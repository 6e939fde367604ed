// The X11 desktop's answers about real windows on the private X server.
#include "platform/X11Desktop.h"
#include "support/TestWindows.h"

#include <QString>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

using namespace morvane;

namespace {

xcb_atom_t atomNamed(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    std::free(reply);
    return atom;
}

// Sets or, with empty bytes, removes an 8-bit property, and waits until the server has it.
void setText(test::TestWindows& windows, WindowId window, xcb_atom_t property, xcb_atom_t type,
             const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        xcb_delete_property(windows.connection(), window, property);
    } else {
        xcb_change_property(windows.connection(), XCB_PROP_MODE_REPLACE, window, property, type, 8,
                            static_cast<std::uint32_t>(bytes.size()), bytes.constData());
    }
    windows.sync();
}

WindowId xParent(test::TestWindows& windows, WindowId window) {
    auto* tree = xcb_query_tree_reply(windows.connection(),
                                      xcb_query_tree(windows.connection(), window), nullptr);
    const WindowId parent = tree ? tree->parent : 0;
    std::free(tree);
    return parent;
}

} // namespace

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

    EXPECT_EQ(desktop.windowAt(QPoint(150, 150)), lower);
    EXPECT_EQ(desktop.windowAt(QPoint(300, 300)), upper);
    EXPECT_EQ(desktop.windowAt(QPoint(260, 260)), child);
    EXPECT_EQ(desktop.parentOf(child), upper);
    // Children come top of the stacking order first.
    const WindowId above = windows.create({.rect = QRect(0, 0, 10, 10), .parent = upper});
    EXPECT_EQ(desktop.children(upper), (QList<WindowId>{above, child}));
    EXPECT_EQ(desktop.parentOf(upper), 0u);
    // Nothing but the root far away from them.
    const WindowId background = desktop.windowAt(QPoint(1500, 50));
    EXPECT_NE(background, lower);
    EXPECT_EQ(desktop.windowRect(child), QRect(250, 250, 40, 40));
}

TEST(X11DesktopWindows, BordersBelongToTheirWindowAndUnmappedWindowsAreNotThere) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId outer =
        windows.create({.rect = QRect(100, 100, 200, 200), .overrideRedirect = true});
    // Inside from (125, 125) to (174, 174); the border adds five pixels all round.
    const WindowId framed =
        windows.create({.rect = QRect(20, 20, 50, 50), .parent = outer, .borderWidth = 5});
    EXPECT_EQ(desktop.windowAt(QPoint(121, 121)), framed);
    EXPECT_EQ(desktop.windowAt(QPoint(179, 150)), framed);
    EXPECT_EQ(desktop.windowAt(QPoint(119, 119)), outer);
    EXPECT_EQ(desktop.windowAt(QPoint(180, 150)), outer);

    const WindowId hidden =
        windows.create({.rect = QRect(0, 0, 400, 400), .overrideRedirect = true});
    ASSERT_EQ(desktop.windowAt(QPoint(110, 110)), hidden);
    xcb_unmap_window(windows.connection(), hidden);
    windows.sync();
    EXPECT_EQ(desktop.windowAt(QPoint(110, 110)), outer);
    EXPECT_EQ(desktop.windowAt(QPoint(150, 150)), framed);
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

    // A managed client answers for itself; its parent is the window manager's frame.
    EXPECT_EQ(desktop.windowText(dialog), QByteArray("Dialog"));
    EXPECT_EQ(desktop.className(dialog), QByteArray("DialogClass"));
    const WindowId frame = desktop.parentOf(dialog);
    ASSERT_EQ(frame, xParent(windows, dialog));
    ASSERT_NE(frame, 0u);

    // The frame answers with the client's title and class and leads to the owner the
    // dialog names.
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
    const WindowId ownerFrame = xParent(windows, owner);
    EXPECT_EQ(desktop.parentOf(owner), ownerFrame);
    EXPECT_EQ(desktop.parentOf(ownerFrame), 0u);
    EXPECT_EQ(desktop.windowText(ownerFrame), QByteArray("Owner"));
}

TEST(X11DesktopWindows, ATransientForTheRootNamesNoOwner) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId root = desktop.windowAt(QPoint(1900, 10));
    const WindowId popup =
        windows.create({.rect = QRect(300, 300, 200, 100), .title = "Popup", .transientFor = root});
    EXPECT_EQ(desktop.parentOf(xParent(windows, popup)), 0u);
}

TEST(X11DesktopWindows, BordersCountAndVanishedWindowsGiveEmptyAnswers) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId bordered = windows.create({.rect = QRect(300, 300, 100, 50),
                                              .title = "B",
                                              .className = "BClass",
                                              .overrideRedirect = true,
                                              .borderWidth = 3});
    windows.create({.rect = QRect(5, 5, 10, 10), .parent = bordered});
    EXPECT_EQ(desktop.windowRect(bordered), QRect(300, 300, 106, 56));
    windows.destroy(bordered);
    EXPECT_EQ(desktop.windowRect(bordered), QRect());
    EXPECT_EQ(desktop.windowText(bordered), QByteArray());
    EXPECT_EQ(desktop.className(bordered), QByteArray());
    EXPECT_EQ(desktop.parentOf(bordered), 0u);
    EXPECT_TRUE(desktop.children(bordered).isEmpty());
    EXPECT_NE(desktop.windowAt(QPoint(320, 320)), bordered);
}

TEST(X11DesktopText, LongTitlesAreCutAtACharacterBoundary) {
    test::TestWindows windows;
    X11Desktop desktop;
    // 100 three-byte characters: 300 bytes; 254 bytes would end inside the 85th.
    const QByteArray title = QString(100, QChar(0x4E2D)).toUtf8();
    const WindowId w =
        windows.create({.rect = QRect(0, 0, 50, 50), .title = title, .overrideRedirect = true});
    const QByteArray text = desktop.windowText(w);
    EXPECT_EQ(text.size(), 252);
    EXPECT_EQ(QString::fromUtf8(text).toUtf8(), text);

    const xcb_atom_t netName = atomNamed(windows.connection(), "_NET_WM_NAME");
    const xcb_atom_t utf8 = atomNamed(windows.connection(), "UTF8_STRING");
    // Exactly 254 bytes stay whole.
    const QByteArray exact = "ab" + QString(84, QChar(0x4E2D)).toUtf8();
    setText(windows, w, netName, utf8, exact);
    EXPECT_EQ(desktop.windowText(w), exact);
    // A four-byte character across the limit goes whole: 63 of them fill 252 bytes.
    const QByteArray emoji = QString::fromUcs4(U"\U0001F600").toUtf8().repeated(70);
    setText(windows, w, netName, utf8, emoji);
    EXPECT_EQ(desktop.windowText(w), emoji.left(252));
    // "x" and 84 three-byte characters make 253 bytes; the 85th would end at 256.
    const QByteArray shifted = "x" + QString(90, QChar(0x263A)).toUtf8();
    setText(windows, w, netName, utf8, shifted);
    EXPECT_EQ(desktop.windowText(w), shifted.left(253));
}

TEST(X11DesktopText, Latin1NamesReadAsUtf8) {
    test::TestWindows windows;
    X11Desktop desktop;
    const WindowId w = windows.create({.rect = QRect(0, 0, 50, 50), .overrideRedirect = true});
    setText(windows, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, QByteArray("caf\xe9"));
    EXPECT_EQ(desktop.windowText(w), QByteArray("caf\xc3\xa9"));
    // Each Latin-1 letter becomes two bytes; the limit falls between two of them.
    setText(windows, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "x" + QByteArray(200, '\xe9'));
    EXPECT_EQ(desktop.windowText(w), "x" + QByteArray("\xc3\xa9").repeated(126));
    // _NET_WM_NAME, when set, wins over WM_NAME.
    setText(windows, w, atomNamed(windows.connection(), "_NET_WM_NAME"),
            atomNamed(windows.connection(), "UTF8_STRING"), QByteArray("Net"));
    EXPECT_EQ(desktop.windowText(w), QByteArray("Net"));
    // A class written as UTF8_STRING rather than STRING still reads.
    setText(windows, w, XCB_ATOM_WM_CLASS, atomNamed(windows.connection(), "UTF8_STRING"),
            QByteArray("inst\0Cls\0", 9));
    EXPECT_EQ(desktop.className(w), QByteArray("Cls"));
}

TEST(X11DesktopGrab, ExactColoursAndBlackBeyondTheScreen) {
    test::TestWindows windows;
    X11Desktop desktop;
    EXPECT_EQ(desktop.screenSize(), QSize(1920, 1080));
    windows.create(
        {.rect = QRect(1880, 1040, 40, 40), .colour = 0xff2468ac, .overrideRedirect = true});
    const QImage part = desktop.grabScreen(QRect(1870, 1030, 100, 100));
    ASSERT_EQ(part.size(), QSize(100, 100));
    EXPECT_TRUE(desktop.lastGrabSharedMemory()); // Xvfb offers MIT-SHM
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
}

TEST(X11DesktopGrab, OffsetsAboveAndLeftOfTheScreenInRecycledBuffers) {
    test::TestWindows windows;
    X11Desktop desktop;
    windows.create({.rect = QRect(0, 0, 10, 10), .colour = 0xff00c000, .overrideRedirect = true});
    windows.create({.rect = QRect(10, 0, 10, 10), .colour = 0xffc00000, .overrideRedirect = true});
    {
        // Whole-screen grabs whose buffers go back for reuse, one of them scribbled over.
        QImage first = desktop.grabScreen(QRect(0, 0, 1920, 1080));
        QImage second = desktop.grabScreen(QRect(0, 0, 1920, 1080));
        second.fill(0xffffffff);
    }
    const QImage image = desktop.grabScreen(QRect(-5, -7, 30, 30));
    ASSERT_EQ(image.size(), QSize(30, 30));
    EXPECT_EQ(image.pixel(4, 6), 0xff000000u);
    EXPECT_EQ(image.pixel(5, 7), 0xff00c000u);
    EXPECT_EQ(image.pixel(14, 16), 0xff00c000u);
    EXPECT_EQ(image.pixel(15, 7), 0xffc00000u);
    EXPECT_EQ(image.pixel(29, 6), 0xff000000u);
    EXPECT_EQ(image.pixel(0, 29), 0xff000000u);
}

TEST(X11DesktopGrab, PlainRepliesGiveTheSamePixelsAsSharedMemory) {
    test::TestWindows windows;
    X11Desktop shared;
    X11Desktop plain(X11Desktop::PixelTransfer::Replies);
    windows.create(
        {.rect = QRect(600, 400, 300, 200), .colour = 0xff123456, .overrideRedirect = true});
    for (const QRect& rect :
         {QRect(0, 0, 1920, 1080), QRect(550, 350, 400, 300), QRect(1800, 1000, 300, 300)}) {
        const QImage a = shared.grabScreen(rect);
        EXPECT_TRUE(shared.lastGrabSharedMemory());
        const QImage b = plain.grabScreen(rect);
        EXPECT_FALSE(plain.lastGrabSharedMemory());
        ASSERT_EQ(b.size(), rect.size());
        EXPECT_EQ(a, b) << rect.x() << "," << rect.y();
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
