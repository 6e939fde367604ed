// The real program's memory around a page capture, its browser window in a process of its
// own: the program idle before any page, the program and the window's process with the page
// open, the program after the window closed (its clipboard holding the page), and after
// another program took the clipboard; with the time from the hotkey to the page shown and from
// the click on 滚动抓图 to the message.
// Run on a private X desktop (scripts/lib/bench-web).
#include "support/PageServer.h"
#include "support/ProgramWeb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <cstdio>
#include <cstdlib>

using namespace morvane::test;

namespace {

double rssMiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 15000;
    QByteArray html = "<!DOCTYPE html><html><head><title>Page</title><style>body{margin:0}"
                      "div{height:100px}</style></head><body>";
    for (int y = 0; y < rows / 100; ++y) {
        html +=
            QByteArray("<div style=\"background:#") + (y % 2 ? "3060c0" : "f0e0a0") + "\"></div>";
    }
    PageServer server(html + "</body></html>");
    Homes homes;
    homes.withSaveFolder();

    ProgramRun program(homes.config(), homes.runtime());
    const auto window = program.waitForMainWindow();
    if (!window) {
        std::fprintf(stderr, "web_program_bench: no main window\n");
        return 1;
    }
    QTest::qWait(2000);
    const double before = rssMiB(program.pid());
    QElapsedTimer opening;
    opening.start();
    requestPage(*window, server.url().toString());
    const auto browser = pageWindow(program.pid());
    const double openingMs = static_cast<double>(opening.nsecsElapsed()) / 1e6;
    if (!browser) {
        std::fprintf(stderr, "web_program_bench: no browser window\n");
        return 1;
    }
    QTest::qWait(1000);
    const double open = rssMiB(program.pid());
    const double windowProcess = rssMiB(browser->second);
    QElapsedTimer clock;
    clock.start();
    clickAt(insideOrigin(browser->first) + kCaptureButton);
    const std::optional<QString> done = boxOf(browser->second, 60000);
    const double captureMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (!done) {
        std::fprintf(stderr, "web_program_bench: no message after the capture\n");
        return 1;
    }
    closeBox(*done);
    (void)processEnds(browser->second, 10000);
    QTest::qWait(2000);
    const double after = rssMiB(program.pid());
    QProcess take;
    take.start(QStringLiteral("sh"),
               {QStringLiteral("-c"), QStringLiteral("echo taken | xclip -selection clipboard")});
    take.waitForFinished(5000);
    QTest::qWait(1000);
    const double taken = rssMiB(program.pid());
    std::printf("web_program_press_to_page_shown_ms: %.0f (the window's process started, the "
                "page loaded and drawn)\n",
                openingMs);
    std::printf("web_program_1280x%d_click_to_message_ms: %.0f\n", rows, captureMs);
    std::printf("web_program_rss_mib_idle_before: %.0f\n", before);
    std::printf("web_program_rss_mib_page_open: %.0f (program) + %.0f (window's process)\n", open,
                windowProcess);
    std::printf("web_program_rss_mib_after_close: %.0f (the page on its clipboard), %.0f once "
                "another program took the clipboard\n",
                after, taken);
    return 0;
}
