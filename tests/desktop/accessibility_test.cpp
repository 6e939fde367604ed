// Controls of real toolkits, drawn without X windows of their own, found through the
// accessibility bus that with-desktop --a11y-bus starts.
#include "capture/Dispatcher.h"
#include "platform/Accessibility.h"
#include "platform/X11Desktop.h"
#include "support/PageServer.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"
#include "support/TestWindows.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace morvane;

namespace {

bool accessibilityOn() {
    QDBusMessage get = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 1000);
    return !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

void setAccessibility(bool on) {
    QDBusMessage set = QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus",
                                                      "org.freedesktop.DBus.Properties", "Set");
    set << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled")
        << QVariant::fromValue(QDBusVariant(on));
    ASSERT_EQ(QDBusConnection::sessionBus().call(set, QDBus::Block, 1000).type(),
              QDBusMessage::ReplyMessage);
}

// Turns accessibility on and waits until the bus says so.
void turnOn(AccessibilitySwitch& on) {
    (void)on;
    for (int i = 0; i < 50 && !accessibilityOn(); ++i) {
        QTest::qWait(100);
    }
    ASSERT_TRUE(accessibilityOn());
}

class AccessibleCapture : public ::testing::Test {
protected:
    AccessibleCapture() {
        host.folder = dir.path();
        dispatcher.setAccessibleLookup(&lookup);
    }
    ~AccessibleCapture() override {
        if (app.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(app.processId()), SIGCONT);
            app.terminate(); // Chromium ends its helper processes only when asked to end
            if (!app.waitForFinished(10000)) {
                app.kill();
                app.waitForFinished(5000);
            }
        }
    }

    // Starts the application and returns the rectangles it prints before "ready".
    QList<QRect> start(const QString& program, const QStringList& arguments) {
        app.start(program, arguments);
        QList<QRect> rects;
        while (app.waitForReadyRead(20000)) {
            while (app.canReadLine()) {
                const QList<QByteArray> line = app.readLine().trimmed().split(' ');
                if (line.first() == "window" && line.size() == 2) {
                    appWindow = line[1].toUInt();
                }
                if (line.first() == "ready") {
                    QTest::qWait(300); // the bus learns of the window's last changes
                    return rects;
                }
                if (line.size() == 4) {
                    rects << QRect(line[0].toInt(), line[1].toInt(), line[2].toInt(),
                                   line[3].toInt());
                }
            }
        }
        ADD_FAILURE() << "the application did not start: " << app.readAllStandardError().data();
        return rects;
    }

    // Chromium on the page, at the screen's top left, with a fresh profile.
    void startChromium(const QString& address, QStringList arguments = {}) {
        arguments << "--user-data-dir=" + profile.path() << "--no-first-run"
                  << "--disable-gpu"
                  << "--window-position=0,0"
                  << "--window-size=1200,800" << address;
        if (::geteuid() == 0) {
            arguments.prepend("--no-sandbox"); // Chromium refuses to run as root otherwise
        }
        app.start("/usr/bin/chromium", arguments);
    }

    QImage capture(CaptureMode mode, QPoint at) {
        windows.warpPointer(at);
        host.mode = mode;
        dispatcher.DoCapture();
        return QImage(dispatcher.lastFile(), "BMP");
    }

    // Control mode writes the control's rectangle named after it, container mode its
    // container's; window and full-screen modes stay as they were.
    void expectControlAndContainer(QRect control, const QString& name, QRect container) {
        const QImage controlPicture = capture(CaptureMode::Control, control.center());
        EXPECT_EQ(dispatcher.lastFile().toStdString(),
                  dir.filePath(name + "temp1.bmp").toStdString());
        EXPECT_EQ(controlPicture.size(), control.size());
        EXPECT_EQ(capture(CaptureMode::Container, control.center()).size(), container.size());
        const WindowId window = desktop.windowAt(control.center());
        EXPECT_EQ(capture(CaptureMode::Window, control.center()).size(),
                  desktop.windowRect(desktop.parentOf(window)).size());
        EXPECT_EQ(capture(CaptureMode::FullScreen, control.center()).size(), QSize(1920, 1080));
    }

    QTemporaryDir dir;
    test::TestWindows windows;
    X11Desktop desktop;
    AtspiLookup lookup{desktop};
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    QtClipboard clipboard;
    test::RecordingOpener opener;
    Dispatcher dispatcher{host, desktop, prompts, clipboard, &opener};
    QProcess app;
    QTemporaryDir profile;  // a browser's, fresh for each test
    WindowId appWindow = 0; // the application's X window, where it tells it
};

const QString kGtkWindow = QStringLiteral(MORVANE_TEST_SUPPORT "/gtk_window.py");
const QString kGtk4Window = QStringLiteral(MORVANE_TEST_SUPPORT "/gtk4_window.py");
const QString kHostileApp = QStringLiteral(MORVANE_TEST_SUPPORT "/hostile_app.py");

// The switch puts the desktop's state back as it found it, and a run that finds the switch
// still on from an earlier run that turned it on (and then died) turns it off at the end.
TEST(AccessibilitySwitchState, PutBackAsFoundAndTakenOverAfterACrash) {
    QTemporaryDir runtime;
    const QString marker = runtime.filePath("on");
    const auto run = [&] {
        AccessibilitySwitch on(marker);
        for (int i = 0; i < 50 && !on.settled(); ++i) {
            QTest::qWait(20);
        }
        ASSERT_TRUE(on.settled());
        EXPECT_TRUE(accessibilityOn());
    };
    setAccessibility(false);
    run();
    EXPECT_FALSE(accessibilityOn());
    EXPECT_FALSE(QFile::exists(marker));

    setAccessibility(true); // someone else's
    run();
    EXPECT_TRUE(accessibilityOn());

    QFile(marker).open(QIODevice::WriteOnly); // left by a run that died with the switch on
    run();
    EXPECT_FALSE(accessibilityOn());
    EXPECT_FALSE(QFile::exists(marker));
}

// An application that answers the bus by hand: numbers that overflow when added unchecked,
// a password field holding an address, and a peer-to-peer address that runs a command.
// Only what the capture needs is asked, only through the bus, and never a password's text.
TEST_F(AccessibleCapture, HostileApplicationRunsNothingAndGivesNoSecret) {
    QTemporaryDir log;
    const QList<QRect> rects =
        start("/usr/bin/python3", {kHostileApp, "Hostile", "300", "200", log.path()});
    ASSERT_EQ(rects.size(), 2);
    const QRect secret = rects[0];
    const QRect plain = rects[1];

    const QImage picture = capture(CaptureMode::Control, plain.center());
    EXPECT_EQ(dispatcher.lastFile().toStdString(), dir.filePath("Plaintemp1.bmp").toStdString());
    EXPECT_EQ(picture.size(), plain.size());

    windows.warpPointer(secret.center());
    host.mode = CaptureMode::WebPage;
    dispatcher.DoCapture();
    EXPECT_TRUE(opener.addresses.isEmpty());
    EXPECT_EQ(prompts.messages, QStringList{"请将鼠标悬停在网页浏览器的地址栏上"});

    QFile calls(log.filePath("calls"));
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    const QByteArray asked = calls.readAll();
    EXPECT_TRUE(asked.contains("GetRole /h/secret"));
    EXPECT_FALSE(asked.contains("GetText /h/secret"));
    EXPECT_FALSE(asked.contains("GetApplicationBusAddress"));
    EXPECT_FALSE(QFile::exists(log.filePath("ran")));
}

TEST_F(AccessibleCapture, GtkButtonAndItsBox) {
    const QList<QRect> rects = start("/usr/bin/python3", {kGtkWindow, "Gtk Window", "300", "200"});
    ASSERT_EQ(rects.size(), 4);
    expectControlAndContainer(rects[1], "Beta", rects[2]);
}

// GTK 4 gives its rectangles relative to its window and says its controls are visible, never
// that they are showing.
TEST_F(AccessibleCapture, Gtk4ButtonAndItsBox) {
    QList<QRect> rects = start("/usr/bin/python3", {kGtk4Window, "Gtk4 Window"});
    ASSERT_EQ(rects.size(), 3);
    ASSERT_NE(appWindow, 0u);
    const QPoint origin = desktop.windowRect(appWindow).topLeft();
    for (QRect& rect : rects) {
        rect.translate(origin);
    }
    expectControlAndContainer(rects[1], "Two", rects[2]);
    EXPECT_EQ(capture(CaptureMode::Control, rects[1].center()).pixel(5, 5), qRgb(0, 0, 0xff));
}

TEST_F(AccessibleCapture, QtButtonThroughQtsBridge) {
    AccessibilitySwitch on; // Qt applications answer only while accessibility is on
    turnOn(on);
    const QList<QRect> rects = start(MORVANE_QT_BUTTON, {"Qt Window", "300", "200"});
    ASSERT_EQ(rects.size(), 2);
    expectControlAndContainer(rects[0], "Gamma", rects[1]);
}

TEST_F(AccessibleCapture, StoppedApplicationGivesTheX11AnswerWithinTheDeadline) {
    const QList<QRect> rects = start("/usr/bin/python3", {kGtkWindow, "Stopped", "300", "200"});
    ASSERT_EQ(rects.size(), 4);
    ASSERT_EQ(::kill(static_cast<pid_t>(app.processId()), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    const QImage picture = capture(CaptureMode::Control, rects[1].center());
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(dispatcher.lastFile().toStdString(), dir.filePath("Stoppedtemp1.bmp").toStdString());
    EXPECT_EQ(picture.size(), desktop.windowRect(dispatcher.TargetWnd).size());
    EXPECT_LT(elapsed, 300 + 400); // the deadline, and the grab and the file on a busy machine
}

// Chromium's address bar shows "127.0.0.1:port/page.html"; the page's full address, scheme
// included, comes from its web document.
TEST_F(AccessibleCapture, ChromiumAddressBarOpensItsPage) {
    AccessibilitySwitch on; // Chromium joins the bus only while accessibility is on
    turnOn(on);
    test::PageServer server("<html><head><title>Bar Test</title></head><body>page</body></html>");
    const QString address = server.url().toString();
    startChromium(address, {"--force-renderer-accessibility"});
    ASSERT_TRUE(app.waitForStarted(20000));

    // The address bar is at the top left of the window's toolbar; wait until the bus
    // shows it with the page's address, and the page's document beside it (it comes later),
    // and until Chromium answers well within the capture's 300 ms: a Chromium still busy
    // starting on a loaded machine may answer the capture's own look-up too late.
    const QPoint bar(400, 63);
    windows.warpPointer(bar);
    QString shown;
    QString document;
    for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 60000; QTest::qWait(250)) {
        if (!waited.isValid()) {
            waited.start();
        }
        QElapsedTimer asked;
        asked.start();
        const WindowId window = desktop.windowAt(bar);
        const auto hit = lookup.elementAt(window, desktop.windowRect(window), bar);
        shown = hit && !hit->chain.isEmpty() ? hit->chain.first().text : QString();
        document = hit && !hit->chain.isEmpty() ? hit->chain.first().document : QString();
        if (shown.endsWith(QStringLiteral("/page.html")) && !document.isEmpty() &&
            asked.elapsed() < 100) {
            break;
        }
    }
    ASSERT_EQ(shown.toStdString(), address.mid(QStringLiteral("http://").size()).toStdString());
    EXPECT_EQ(document.toStdString(), address.toStdString());

    host.mode = CaptureMode::WebPage;
    dispatcher.DoCapture();
    EXPECT_EQ(opener.addresses, QStringList{address});
}

// Chromium started as usual keeps its address bar off the bus: the message, then once the hint
// to copy the address first; copied (Ctrl+L, Ctrl+C, keys sent to Chromium), it is taken.
TEST_F(AccessibleCapture, ChromiumWithoutTheFlagHintsAtCopyingTheAddress) {
    AccessibilitySwitch on;
    turnOn(on);
    test::PageServer server("<html><head><title>Plain Test</title></head><body>page</body></html>");
    const QString address = server.url().toString();
    startChromium(address);
    ASSERT_TRUE(app.waitForStarted(20000));
    const QPoint bar(400, 63);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const WindowId window = desktop.windowAt(bar);
            return desktop.windowText(window).contains("Plain Test") ||
                   desktop.windowText(desktop.parentOf(window)).contains("Plain Test");
        },
        30000));
    QList<CaptureOutcome> reported;
    dispatcher.setReport([&](const CaptureOutcome& outcome) { reported << outcome; });
    QGuiApplication::clipboard()->clear();
    windows.warpPointer(bar);
    host.mode = CaptureMode::WebPage;
    dispatcher.DoCapture();
    EXPECT_TRUE(opener.addresses.isEmpty());
    EXPECT_EQ(prompts.messages, QStringList{"请将鼠标悬停在网页浏览器的地址栏上"});
    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(reported[0].reason, kCopyAddressHint);

    QProcess::execute("xdotool", {"mousemove", "400", "63", "click", "1"});
    QTest::qWait(300);
    QProcess::execute("xdotool", {"key", "ctrl+l", "ctrl+c"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QGuiApplication::clipboard()->text().contains("/page.html"); }, 5000));
    dispatcher.DoCapture();
    EXPECT_EQ(opener.addresses, QStringList{address});
    EXPECT_EQ(reported.size(), 1) << "the hint once";
}

// Firefox's address bar shows the address without its scheme, in the second of two sections
// of the same size; the full address comes from the document of the tab that shows. A button
// of its page is a control as any other. Firefox starts once, with a fresh profile.
TEST_F(AccessibleCapture, FirefoxAddressBarAndPageButton) {
    AccessibilitySwitch on; // Firefox joins the bus only while accessibility is on
    turnOn(on);
    test::PageServer server("<html><head><title>Fox Test</title></head><body style='margin:0'>"
                            "<button style='width:200px;height:60px;margin:40px'>Press</button>"
                            "</body></html>");
    const QString address = server.url().toString();
    app.start("/usr/bin/firefox-esr",
              {"--profile", profile.path(), "--no-remote", "--new-instance", address});
    ASSERT_TRUE(app.waitForStarted(20000));

    // The window manager places the window; the address bar lies across the toolbar's middle,
    // the page's button 40 pixels into the page. Wait until the bus shows both.
    std::optional<AccessibleHit> bar;
    std::optional<AccessibleHit> button;
    QPoint barAt;
    QPoint buttonAt;
    for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 60000; QTest::qWait(250)) {
        if (!waited.isValid()) {
            waited.start();
        }
        const WindowId window = desktop.windowAt(QPoint(960, 540));
        const QRect frame = desktop.windowRect(window);
        if (!desktop.windowText(desktop.parentOf(window) ? desktop.parentOf(window) : window)
                 .contains("Fox Test")) {
            continue;
        }
        barAt = QPoint(frame.center().x(), frame.top() + 64);
        buttonAt = QPoint(frame.left() + 140, frame.top() + 160);
        bar = lookup.elementAt(window, frame, barAt);
        button = lookup.elementAt(window, frame, buttonAt);
        if (bar && !bar->chain.isEmpty() && bar->chain.first().role == "combo box" && button &&
            !button->chain.isEmpty() && button->chain.first().name == "Press") {
            break;
        }
    }
    ASSERT_TRUE(bar && button) << "Firefox showed no address bar and button on the bus";
    EXPECT_EQ(bar->chain.first().document.toStdString(), address.toStdString());

    windows.warpPointer(barAt);
    host.mode = CaptureMode::WebPage;
    dispatcher.DoCapture();
    EXPECT_EQ(opener.addresses, QStringList{address});

    const QImage picture = capture(CaptureMode::Control, buttonAt);
    EXPECT_EQ(dispatcher.lastFile().toStdString(), dir.filePath("Presstemp1.bmp").toStdString());
    EXPECT_EQ(picture.size(), QSize(200, 60));
}

} // namespace
