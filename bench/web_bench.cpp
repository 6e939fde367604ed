// Whole-page capture figures on the current X display: for pages of the given heights, the
// time from "滚动抓图" to the file on disk and the program's peak memory growth, one
// "name: value" line each. The browser module is loaded as the program loads it.
//
//   web_bench MODULE-DIR PAGE...
//
// A PAGE is a height (horizontal stripes, 1280 wide) or "docs": a documentation-shaped page,
// a fixed side bar 240 wide, a sticky header 60 high and 20,000 rows of text-like blocks.
// With WEB_BENCH_KEEP set to a folder, each page is kept there as pagePAGE.html and its
// image as morvanePAGE.bmp, for a comparison with another program's image of the page:
//
//   web_bench --compare OURS THEIRS LEFT TOP
//
// prints THEIRS's size, the size of the part both images hold right of LEFT and below TOP,
// how many of its pixels differ, and the milliseconds THEIRS took to decode.
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
#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace morvane;

namespace {

struct SilentPrompts final : Prompts {
    QStringList said;
    void message(const QString& text, MessageScope) override { said << text; }
    QString input(const QString&, const QString&, const QString&) override { return {}; }
};

// A figure of /proc/self/status in KiB: VmHWM (the peak) or VmRSS (now).
long statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    const auto length = static_cast<qsizetype>(qstrlen(field));
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(length).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

long peakKiB() {
    return statusKiB("VmHWM:");
}

using morvane::test::browserWindow;

// Horizontal stripes 100 rows high, 1280 wide.
QByteArray stripes(int height) {
    QByteArray html = "<!DOCTYPE html><html><head><title>Page</title><style>html,body{margin:0}"
                      "div{height:100px;width:1280px}</style></head><body>";
    for (int block = 0; block < height / 100; ++block) {
        html += QStringLiteral("<div style='background:#%1'></div>")
                    .arg((block * 0x3f1d27) & 0xffffff, 6, 16, QLatin1Char('0'))
                    .toUtf8();
    }
    return html + "</body></html>";
}

// A documentation site's shape: a fixed side bar, a sticky header over the text, and 100
// paragraphs of eight lines each (dark bars of varying length), 20,000 rows.
QByteArray docsPage() {
    QByteArray html =
        "<!DOCTYPE html><html><head><title>Page</title><style>html,body{margin:0;"
        "background:#fff}nav{position:fixed;left:0;top:0;bottom:0;width:240px;background:#2b3a4a}"
        "main{margin-left:240px;width:1040px}header{position:sticky;top:0;height:60px;"
        "background:#e8e8e8}p{margin:0;height:192px;padding-top:8px}i{display:block;height:16px;"
        "margin:0 0 8px 24px;background:#333}</style></head><body><nav></nav><main><header>"
        "</header>";
    for (int paragraph = 0; paragraph < 100; ++paragraph) {
        html += "<p>";
        for (int line = 0; line < 8; ++line) {
            html +=
                "<i style='width:" + QByteArray::number(400 + (paragraph * 131 + line * 97) % 580) +
                "px'></i>";
        }
        html += "</p>";
    }
    return html + "</main></body></html>";
}

} // namespace

int compare(const char* oursPath, const char* theirsPath, int left, int top) {
    QImageReader::setAllocationLimit(0); // the pages are taller than any limit meant for icons
    const QImage ours =
        QImage(QString::fromLocal8Bit(oursPath)).convertToFormat(QImage::Format_RGB32);
    QElapsedTimer decoding;
    decoding.start();
    const QImage theirs =
        QImage(QString::fromLocal8Bit(theirsPath)).convertToFormat(QImage::Format_RGB32);
    const double decodeMs = static_cast<double>(decoding.nsecsElapsed()) / 1e6;
    if (ours.isNull() || theirs.isNull()) {
        std::printf("none none none none\n");
        return 1;
    }
    const int width = std::min(ours.width(), theirs.width()) - left;
    const int height = std::min(ours.height(), theirs.height()) - top;
    long differ = 0;
    for (int y = top; y < top + height; ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(ours.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(theirs.constScanLine(y));
        for (int x = left; x < left + width; ++x) {
            differ += (a[x] & 0xffffff) != (b[x] & 0xffffff) ? 1 : 0;
        }
    }
    std::printf("%dx%d %dx%d %ld %.1f\n", theirs.width(), theirs.height(), width, height, differ,
                decodeMs);
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc == 6 && std::strcmp(argv[1], "--compare") == 0) {
        return compare(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    }
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fprintf(stderr, "usage: web_bench MODULE-DIR PAGE...\n");
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

    const QString keep = qEnvironmentVariable("WEB_BENCH_KEEP");
    const long idleBefore = statusKiB("VmRSS:");
    for (int i = 2; i < argc; ++i) {
        const QByteArray name = argv[i];
        const bool docs = name == "docs";
        const QByteArray html = docs ? docsPage() : stripes(std::atoi(argv[i]));
        const QByteArray label = docs ? QByteArray("docs") : "1280x" + name;
        if (!keep.isEmpty()) {
            QFile page(QStringLiteral("%1/page%2.html").arg(keep, QString::fromLatin1(name)));
            page.open(QIODevice::WriteOnly);
            page.write(html);
        }
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
        std::printf("web_capture_%s_ms: %.0f\n", label.constData(), ms);
        std::printf("web_capture_%s_image: %dx%d\n", label.constData(), reader.size().width(),
                    reader.size().height());
        std::printf("web_capture_%s_peak_growth_mib: %.0f\n", label.constData(),
                    static_cast<double>(peakKiB() - before) / 1024.0);
        const long open = statusKiB("VmRSS:");
        if (!keep.isEmpty()) {
            QFile::copy(dir.filePath(files.value(0)),
                        QStringLiteral("%1/morvane%2.bmp").arg(keep, QString::fromLatin1(name)));
        }
        for (const QString& f : files) {
            QFile::remove(dir.filePath(f));
        }
        (void)QTest::qWaitFor([] { return browserWindow() == nullptr; }, 5000);
        QTest::qWait(2000); // closed, and idle
        std::printf("web_rss_mib_idle_before_open_after_close_%s: %.0f %.0f %.0f\n",
                    label.constData(), static_cast<double>(idleBefore) / 1024.0,
                    static_cast<double>(open) / 1024.0,
                    static_cast<double>(statusKiB("VmRSS:")) / 1024.0);
    }
    browser.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
