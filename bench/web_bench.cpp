// Whole-page capture figures on the current X display: for pages of the given heights, the
// time from "滚动抓图" to the file on disk and the program's peak memory growth, one
// "name: value" line each. The browser module is loaded as the program loads it.
//
//   web_bench MODULE-DIR HEIGHT...
//
// With WEB_BENCH_KEEP set to a folder, each page's image is kept there as morvaneHEIGHT.bmp.
#include "common/Prompts.h"
#include "platform/X11Desktop.h"
#include "support/PageServer.h"
#include "support/Widgets.h"
#include "webcapture/WebModule.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QLibrary>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <cstdio>

using namespace morvane;

namespace {

struct SilentPrompts final : Prompts {
    QStringList said;
    void message(const QString& text, MessageScope) override { said << text; }
    QString input(const QString&, const QString&, const QString&) override { return {}; }
};

long peakKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

using morvane::test::browserWindow;

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: web_bench MODULE-DIR HEIGHT...\n");
        return 2;
    }
    shareOpenGLContexts();
    QLibrary module(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/morvane_web"));
    const auto create = reinterpret_cast<CreateWebBrowser>(module.resolve(kCreateWebBrowser));
    if (!create) {
        std::fprintf(stderr, "web_bench: no browser module in %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir dir;
    QWidget main;
    X11Desktop desktop;
    QtClipboard clipboard;
    SilentPrompts prompts;
    WebCaptureContext context;
    context.mainWindow = &main;
    context.saveFolder = [&] { return dir.path(); };
    context.prompts = &prompts;
    context.desktop = &desktop;
    context.clipboard = &clipboard;
    std::unique_ptr<WebBrowser> browser(create(&context));

    for (int i = 2; i < argc; ++i) {
        const int height = std::atoi(argv[i]);
        // Horizontal stripes 100 rows high, 1280 wide.
        QByteArray html = "<!DOCTYPE html><html><head><title>Page</title><style>html,body{margin:0}"
                          "div{height:100px;width:1280px}</style></head><body>";
        for (int block = 0; block < height / 100; ++block) {
            html += QStringLiteral("<div style='background:#%1'></div>")
                        .arg((block * 0x3f1d27) & 0xffffff, 6, 16, QLatin1Char('0'))
                        .toUtf8();
        }
        html += "</body></html>";
        test::PageServer server(html);
        browser->openAddress(server.url().toString());
        QWidget* window = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                return (window = browserWindow()) &&
                       window->windowTitle() == QStringLiteral("Page");
            },
            30000);
        if (!window) {
            std::fprintf(stderr, "web_bench: the page did not load\n");
            return 1;
        }
        QTest::qWait(500);
        QAction* capture = nullptr;
        for (QAction* action : window->findChild<QToolBar*>()->actions()) {
            if (action->data().toString() == QLatin1String("gdzt")) {
                capture = action;
            }
        }
        const long before = peakKiB();
        QElapsedTimer clock;
        clock.start();
        capture->trigger();
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QImageReader reader(dir.filePath(files.value(0)));
        std::printf("web_capture_1280x%d_ms: %.0f\n", height, ms);
        std::printf("web_capture_1280x%d_image: %dx%d\n", height, reader.size().width(),
                    reader.size().height());
        std::printf("web_capture_1280x%d_peak_growth_mib: %.0f\n", height,
                    static_cast<double>(peakKiB() - before) / 1024.0);
        // Kept for a comparison with another program's image of the same page.
        const QString keep = qEnvironmentVariable("WEB_BENCH_KEEP");
        if (!keep.isEmpty()) {
            QFile::copy(dir.filePath(files.value(0)),
                        QStringLiteral("%1/morvane%2.bmp").arg(keep).arg(height));
        }
        for (const QString& f : files) {
            QFile::remove(dir.filePath(f));
        }
        (void)QTest::qWaitFor([] { return browserWindow() == nullptr; }, 5000);
    }
    browser.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
