// Captures in a real, headless KWin Wayland session (tests/desktop/with-kwin): the pointer
// and keys come from KWin's fake input, the pixels from KWin's screenshots, the windows are
// real Qt 6 and GTK 3 clients. Expected places come from KWin itself, since on Wayland no
// client knows where its window is.
#include "capture/Dispatcher.h"
#include "platform/Accessibility.h"
#include "platform/KWinDesktop.h"
#include "support/ColouredWindow.h"
#include "support/KWinSession.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <sstream>

using namespace morvane;

namespace {

template <typename T> std::string shown(const T& value) {
    QString text;
    QDebug(&text) << value;
    return text.toStdString();
}

// Where two pictures first differ, for a failure's message.
std::string difference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return "sizes " + shown(a.size()) + " and " + shown(b.size());
    }
    int count = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                if (count++ == 0) {
                    first = QPoint(x, y);
                }
            }
        }
    }
    if (count == 0) {
        return "none";
    }
    return std::to_string(count) + " pixels, first at " + shown(first) + ": " + shown(Qt::hex) +
           std::to_string(a.pixel(first)) + " against " + std::to_string(b.pixel(first));
}

QImage loadBmp(const QString& path) {
    return QImage(path, "BMP").convertToFormat(QImage::Format_RGB32);
}

bool allPixels(const QImage& image, QRgb colour) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != colour) {
                return false;
            }
        }
    }
    return !image.isNull();
}

// A client started for a test, with the rectangles it prints before "ready" (relative to its
// own surface on Wayland), ended with the test.
struct Client {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QList<QRect> rects;
    Client() = default;
    Client(Client&&) = default;
    ~Client() {
        if (process) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
};

Client startClient(const QString& program, const QStringList& arguments) {
    Client client;
    client.process->start(program, arguments);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            while (client.process->canReadLine()) {
                const QList<QByteArray> words = client.process->readLine().trimmed().split(' ');
                if (words.value(0) == "ready") {
                    return true;
                }
                if (words.size() == 4) {
                    client.rects << QRect(words[0].toInt(), words[1].toInt(), words[2].toInt(),
                                          words[3].toInt());
                }
            }
            return false;
        },
        15000))
        << qPrintable(program) << client.process->readAllStandardError().constData();
    return client;
}

class KWinCapture : public ::testing::Test {
protected:
    KWinCapture() {
        host.folder = dir.path();
        dispatcher.setAccessibleLookup(&accessibility);
    }

    // KWin's own record of the window with the caption, once it is mapped.
    KWinWindow windowTitled(const QString& caption) {
        KWinWindow found;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                KWinDesktop probe(KWinScript::open());
                probe.pointerPosition();
                for (WindowId id = 1; !probe.windowRect(id).isEmpty(); ++id) {
                    if (probe.windowText(id) == caption.toUtf8()) {
                        found.caption = caption;
                        found.frame = probe.windowRect(id);
                        found.buffer = QRect(*probe.accessibleOrigin(id), found.frame.size());
                        return true;
                    }
                }
                return false;
            },
            10000))
            << qPrintable(caption);
        return found;
    }

    QImage captureAt(QPoint point, CaptureMode mode) {
        test::kwin::movePointer(point);
        host.mode = mode;
        dispatcher.DoCapture();
        return dispatcher.lastFile().isEmpty() ? QImage() : loadBmp(dispatcher.lastFile());
    }

    std::string named(const QString& file) const { return dir.filePath(file).toStdString(); }
    std::string written() const { return dispatcher.lastFile().toStdString(); }

    QTemporaryDir dir;
    AccessibilitySwitch accessibilityOn; // Qt applications answer only while it is on
    KWinDesktop desktop{KWinScript::open()};
    AtspiLookup accessibility{desktop};
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
};

} // namespace

TEST_F(KWinCapture, WindowModeTakesTheFrameNamedByItsCaptionAndClimbsToTheOwner) {
    const auto owner =
        test::colouredWindow(QStringLiteral("Owner"), QColor(0, 0, 255), QSize(420, 300));
    const auto dialog = test::colouredWindow(QStringLiteral("Dia:log"), QColor(0, 255, 0),
                                             QSize(200, 120), owner.get());
    const KWinWindow ownerWindow = windowTitled(QStringLiteral("Owner"));
    const KWinWindow dialogWindow = windowTitled(QStringLiteral("Dia:log"));

    QImage picture = captureAt(dialogWindow.frame.center(), CaptureMode::Window);
    EXPECT_EQ(written(), named(QStringLiteral("Ownertemp1.bmp")));
    EXPECT_EQ(picture.size(), ownerWindow.frame.size());
    // KWin's screenshot of a window is that window alone, whatever covers it.
    EXPECT_TRUE(allPixels(picture, 0xff0000ff));

    Client gtk =
        startClient(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(MORVANE_TEST_SUPPORT "/gtk_window.py"),
                     QStringLiteral("Gtk Window"), QStringLiteral("0"), QStringLiteral("0")});
    const KWinWindow gtkWindow = windowTitled(QStringLiteral("Gtk Window"));
    picture = captureAt(gtkWindow.frame.center(), CaptureMode::Window);
    EXPECT_EQ(written(), named(QStringLiteral("Gtk Windowtemp1.bmp")));
    EXPECT_EQ(picture.size(), gtkWindow.frame.size());
    EXPECT_EQ(clipboard.images.size(), 2);
}

struct ControlCase {
    const char* toolkit;
    int element;   // which printed rectangle the pointer goes to
    int container; // and which one holds it
    const char* controlFile;
    const char* containerFile;
};

class KWinAccessibleCapture : public KWinCapture,
                              public ::testing::WithParamInterface<ControlCase> {};

// The toolkits report their controls relative to their own surfaces; only the origin KWin
// gives puts them on the screen. Each capture must be exactly that part of the window.
TEST_P(KWinAccessibleCapture, ControlAndContainerAreWhereTheScreenShowsThem) {
    const ControlCase& c = GetParam();
    const bool gtk = QByteArray(c.toolkit) == "gtk";
    const QString title = gtk ? QStringLiteral("Gtk Controls") : QStringLiteral("Qt Controls");
    Client client = gtk ? startClient(QStringLiteral("/usr/bin/python3"),
                                      {QStringLiteral(MORVANE_TEST_SUPPORT "/gtk_window.py"), title,
                                       QStringLiteral("0"), QStringLiteral("0")})
                        : startClient(QStringLiteral(MORVANE_QT_BUTTON),
                                      {title, QStringLiteral("0"), QStringLiteral("0")});
    ASSERT_GT(client.rects.size(), std::max(c.element, c.container));
    const KWinWindow window = windowTitled(title);
    const QPoint origin = window.buffer.topLeft();
    const QRect control = client.rects[c.element].translated(origin);
    const QRect container = client.rects[c.container].translated(origin);

    // The toolkits animate a control under the pointer for a moment: let that end.
    test::kwin::movePointer(control.center());
    QTest::qWait(800);
    // The window as KWin gives it; the control and its container are parts of it.
    const QImage whole = captureAt(control.center(), CaptureMode::Window);
    ASSERT_EQ(whole.size(), window.frame.size());
    const auto part = [&](const QRect& rect) {
        return whole.copy(rect.translated(-window.frame.topLeft()));
    };
    const QImage picture = captureAt(control.center(), CaptureMode::Control);
    EXPECT_EQ(written(), named(QString::fromLatin1(c.controlFile)));
    EXPECT_TRUE(picture == part(control)) << difference(picture, part(control));
    const QImage outer = captureAt(control.center(), CaptureMode::Container);
    EXPECT_EQ(written(), named(QString::fromLatin1(c.containerFile)));
    EXPECT_TRUE(outer == part(container)) << difference(outer, part(container));
}

INSTANTIATE_TEST_SUITE_P(
    Toolkits, KWinAccessibleCapture,
    ::testing::Values(ControlCase{"gtk", 0, 2, "Alphatemp1.bmp", "Gtk Controlstemp2.bmp"},
                      ControlCase{"qt", 0, 1, "Gammatemp1.bmp", "Grouptemp1.bmp"}));

TEST_F(KWinCapture, FullScreenIsThePrimaryOutputWithThePointerAtItsHotspot) {
    const auto window =
        test::colouredWindow(QStringLiteral("Red"), QColor(255, 0, 0), QSize(300, 200));
    const KWinWindow red = windowTitled(QStringLiteral("Red"));
    const QPoint at = red.frame.topLeft() + QPoint(40, 40);

    const QImage plain = captureAt(at, CaptureMode::FullScreen);
    EXPECT_EQ(plain.size(), desktop.primaryScreenRect().size());
    if (QGuiApplication::screens().size() > 1) { // run with two outputs side by side
        EXPECT_EQ(plain.size(),
                  QSize(desktop.screenSize().width() / 2, desktop.screenSize().height()));
    }
    EXPECT_EQ(plain.pixel(at), 0xffff0000);
    host.overlay = true;
    const QImage withPointer = captureAt(at, CaptureMode::FullScreen);
    EXPECT_EQ(withPointer.pixel(at), 0xff000000);                // the arrow's tip
    EXPECT_EQ(withPointer.pixel(at + QPoint(2, 6)), 0xffffffff); // its inside
    EXPECT_EQ(withPointer.pixel(at + QPoint(60, 60)), 0xffff0000);
}

// Run with KWin's permission checks on (with-kwin --checks): the screenshot interface is
// refused until the program's desktop entry, as shipped, names this very binary.
TEST_F(KWinCapture, ScreenshotsNeedTheDesktopEntry) {
    QList<CaptureOutcome> outcomes;
    dispatcher.setReport([&](const CaptureOutcome& outcome) { outcomes << outcome; });
    EXPECT_TRUE(captureAt(QPoint(10, 10), CaptureMode::FullScreen).isNull());
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes.first().kind, CaptureOutcome::Kind::NoPicture);
    EXPECT_TRUE(outcomes.first().reason.contains(QCoreApplication::applicationFilePath()))
        << qPrintable(outcomes.first().reason);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    QFile shipped(QStringLiteral(MORVANE_DESKTOP_ENTRY));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    QByteArray entry = shipped.readAll();
    entry.replace("Exec=/usr/bin/morvane",
                  "Exec=" + QCoreApplication::applicationFilePath().toUtf8());
    const QString applications =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/applications");
    QDir().mkpath(applications);
    QFile installed(applications + QStringLiteral("/org.morvane.Morvane.desktop"));
    ASSERT_TRUE(installed.open(QIODevice::WriteOnly));
    installed.write(entry);
    installed.close();
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("kbuildsycoca5"), {QStringLiteral("--noincremental")}), 0);
    // KWin looks at the rebuilt service cache only now and then (about every 1.5 s).
    QImage picture;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            picture = captureAt(QPoint(10, 10), CaptureMode::FullScreen);
            return !picture.isNull() || (QTest::qWait(300), false);
        },
        8000));
    EXPECT_EQ(picture.size(), desktop.primaryScreenRect().size());
    EXPECT_EQ(outcomes.last().kind, CaptureOutcome::Kind::Saved);
}

TEST_F(KWinCapture, WebModeReadsTheAddressInTheEntryUnderThePointer) {
    test::RecordingOpener opener;
    dispatcher.setWebAddressOpener(&opener);
    Client gtk =
        startClient(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(MORVANE_TEST_SUPPORT "/gtk_window.py"),
                     QStringLiteral("Gtk Entry"), QStringLiteral("0"), QStringLiteral("0")});
    ASSERT_EQ(gtk.rects.size(), 4);
    const QRect entry =
        gtk.rects[3].translated(windowTitled(QStringLiteral("Gtk Entry")).buffer.topLeft());
    EXPECT_TRUE(captureAt(entry.center(), CaptureMode::WebPage).isNull());
    EXPECT_EQ(opener.addresses, QStringList{QStringLiteral("http://example.org/page")});
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(KWinCapture, AWindowThatWentBeforeItsPixelsIsSaidToBeGone) {
    auto window = test::colouredWindow(QStringLiteral("Going"), QColor(9, 9, 9), QSize(200, 100));
    const QRect frame = windowTitled(QStringLiteral("Going")).frame;
    test::kwin::movePointer(frame.center());
    desktop.pointerPosition(); // the request's snapshot, taken while the window stands
    const WindowId going = desktop.windowAt(frame.center());
    ASSERT_EQ(desktop.windowText(going), "Going");
    window.reset();
    QTest::qWait(300);
    EXPECT_TRUE(desktop.grabWindow(going, frame).isNull());
    EXPECT_EQ(desktop.grabFailure(), QStringLiteral("要抓取的窗口已经不在了"));
}
