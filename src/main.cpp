#include "common/Log.h"
#include "common/Prompts.h"
#include "platform/CaptureRequests.h"
#include "platform/DesktopSession.h"
#include "platform/DisplayCheck.h"
#include "platform/ShutdownSignals.h"
#include "shell/Application.h"
#include "shell/BrowserProcess.h"
#include "shell/BrowserWindowProcess.h"
#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

constexpr int kUsageStatus = 2;
constexpr int kNoDisplayStatus = 1;
constexpr int kNotCapturedStatus = 1;
// How long `morvane --capture` waits for the running program's answer, all told.
constexpr int kCaptureRequestMs = 2000;

const char kUsage[] = "Usage: morvane [--help | --version | --capture]\n";

// Asks the running program to capture, as a press of its hotkey does: for desktops that run
// a command on a key rather than let a program take one. Never starts the program.
int askForCapture() {
    const morvane::CaptureAsked asked = morvane::askRunningProgramToCapture(kCaptureRequestMs);
    switch (asked.kind) {
    case morvane::CaptureAsked::Kind::Taken:
        return 0;
    case morvane::CaptureAsked::Kind::NotRunning:
        std::fprintf(stderr, "morvane: Morvane is not running\n");
        return kNotCapturedStatus;
    case morvane::CaptureAsked::Kind::NoSessionBus:
        std::fprintf(stderr, "morvane: no session bus to reach Morvane on (%s)\n",
                     qPrintable(asked.detail));
        return kNotCapturedStatus;
    case morvane::CaptureAsked::Kind::Failed:
        break;
    }
    std::fprintf(stderr, "morvane: Morvane did not take the request (%s)\n",
                 qPrintable(asked.detail));
    return kNotCapturedStatus;
}

// The command line holds at most one request: to print something, or to have the running
// program capture; the program itself takes no arguments. Parsed before the application
// exists, so that it needs no display. A status to end with, or nothing to go on starting.
std::optional<int> handleCommandLine(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption capture(
        {QStringLiteral("c"), QStringLiteral("capture")},
        QStringLiteral("Have the running Morvane capture, as its hotkey does, and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(capture);
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        const QString error = parser.errorText().isEmpty()
                                  ? QStringLiteral("Unexpected argument '%1'.")
                                        .arg(parser.positionalArguments().value(0))
                                  : parser.errorText();
        std::fprintf(stderr, "morvane: %s\n%s", qPrintable(error), kUsage);
        return kUsageStatus;
    }
    if (parser.isSet(help)) {
        std::printf("%s\n"
                    "Morvane captures the screen, a window or a web page with a system-wide\n"
                    "hotkey (Ctrl+S unless set otherwise) and waits in the notification area.\n\n"
                    "Options:\n"
                    "  -h, --help     Print this help and exit.\n"
                    "  -v, --version  Print the version and exit.\n"
                    "  -c, --capture  Have the running Morvane capture, as its hotkey does.\n",
                    kUsage);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("Morvane %s\n", MORVANE_VERSION);
        return 0;
    }
    if (parser.isSet(capture)) {
        return askForCapture();
    }
    return std::nullopt;
}

// The desktop is chosen before the application exists: it decides Qt's platform. In a KDE
// Plasma Wayland session or a sway session the program runs natively on Wayland; on GNOME, or
// another Wayland desktop whose portal answers, it takes the screen from the portal (through
// the session's X server, where there is one); in any other Wayland session it goes through the
// session's X server. A platform the user chose is honoured.
// Without the display the choice needs, it says so and ends, rather than let Qt abort. A status to
// end with, or nothing to go on starting.
std::optional<int> chooseDesktop(morvane::SessionKind& kind) {
    const morvane::SessionChoice choice = morvane::chooseSession(morvane::readSessionFacts());
    kind = choice.kind;
    if (!choice.qtPlatform.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", choice.qtPlatform);
    }
    if (kind == morvane::SessionKind::KWin) {
        qCInfo(morvane::lcMorvane) << "KDE Plasma Wayland session: capturing through KWin";
        return std::nullopt;
    }
    if (kind == morvane::SessionKind::Sway) {
        qCInfo(morvane::lcMorvane) << "sway session: capturing through sway";
        return std::nullopt;
    }
    if (kind == morvane::SessionKind::Gnome || kind == morvane::SessionKind::Portal) {
        if (qgetenv("QT_QPA_PLATFORM") == "xcb" &&
            !morvane::xDisplayReachable(qgetenv("DISPLAY"))) {
            qputenv("QT_QPA_PLATFORM", "wayland"); // an X server named but not there
        }
        qCInfo(morvane::lcMorvane) << "Wayland session: the screen through the desktop portal, on"
                                   << qgetenv("QT_QPA_PLATFORM");
        return std::nullopt;
    }
    if (kind == morvane::SessionKind::Elsewhere) {
        // Honoured as given (for a test or a session without any desktop, say); the capture
        // and the hotkey do nothing there.
        qCWarning(morvane::lcMorvane)
            << "running on the platform chosen by QT_QPA_PLATFORM:" << qgetenv("QT_QPA_PLATFORM")
            << "; capture and hotkey need xcb, or wayland under KWin or sway";
        return std::nullopt;
    }
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        std::fprintf(stderr, "Morvane needs an X11 display (DISPLAY is not set)\n");
        return kNoDisplayStatus;
    }
    if (!morvane::xDisplayReachable(display)) {
        std::fprintf(stderr, "Morvane needs an X11 display (cannot connect to DISPLAY=%s)\n",
                     display.constData());
        return kNoDisplayStatus;
    }
    return std::nullopt;
}

} // namespace

// The program started again for its browser window (BrowserProcess): no instance check, no
// settings, no hotkey; the window's own process on the same desktop.
int browserWindowProcess(int argc, char* argv[]) {
    morvane::SessionKind session = morvane::SessionKind::X11;
    if (const std::optional<int> status = chooseDesktop(session)) {
        return *status;
    }
    QApplication app(argc, argv);
    morvane::configureApplication();
    return morvane::runBrowserWindowProcess(session);
}

int main(int argc, char* argv[]) {
    if (argc == 2 && std::strcmp(argv[1], morvane::kBrowserWindowArgument) == 0) {
        return browserWindowProcess(argc, argv);
    }
    // First, before the application starts its threads: from here on SIGTERM, SIGINT and
    // SIGHUP end the program through its shutdown, which puts the desktop's accessibility back.
    morvane::ShutdownSignals::install();
    if (const std::optional<int> status = handleCommandLine(argc, argv)) {
        return *status;
    }
    morvane::SessionKind session = morvane::SessionKind::X11;
    if (const std::optional<int> status = chooseDesktop(session)) {
        return *status;
    }

    QApplication app(argc, argv);
    morvane::configureApplication();

    morvane::SettingsStore settings;
    morvane::QtPrompts prompts;
    morvane::InstanceLock instanceLock;
    morvane::Shell shell(settings, prompts, instanceLock);
    shell.setSessionKind(session);
    shell.setBrowserProgram(QCoreApplication::applicationFilePath());
    morvane::ShutdownSignals shutdownSignals;
    QObject::connect(
        &shutdownSignals, &morvane::ShutdownSignals::requested, &shell, [&shell](int signal) {
            qCInfo(morvane::lcMorvane) << "signal" << signal << "received: shutting down";
            shell.shutDown();
        });
    if (!shell.startUp()) {
        return 0;
    }
    if (session == morvane::SessionKind::Xwayland) {
        // Told once a start, from inside the event loop so that a shutdown while the box is
        // open still ends the program.
        qCWarning(morvane::lcMorvane)
            << "Wayland session: only X applications can be seen and captured";
        QTimer::singleShot(0, &shell, [&prompts] {
            prompts.message(QStringLiteral("这是 Wayland 会话：Morvane 经由 X 运行，"
                                           "只能看到和抓取 X 应用程序的窗口，"
                                           "热键也只在 X 应用程序中起作用。"),
                            morvane::MessageScope::Application);
        });
    }
    const int status = QApplication::exec();
    // Windows closed on the way out (the browser's among them) are deleted while the
    // application still stands: the web engine must see its pages go before itself.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
