#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace morvane::test {

// Runs a desktop tool (xdotool, xclip, ...) to completion; its standard output, trimmed.
// Fails the calling test when the tool is missing or does not finish in time.
QString runTool(const QString& program, const QStringList& arguments, int timeoutMs = 10000);

// Runs xdotool to completion while this process keeps handling its events (for keys and
// clicks that this process's own windows must answer). Fails the calling test when xdotool
// fails or does not finish in time.
void xdotool(const QStringList& arguments, int timeoutMs = 10000);

// The clipboard's picture as another program (xclip) reads it, in 32-bit RGB; this process
// keeps answering clipboard requests meanwhile.
QImage clipboardFromOutside();

// Calls check every 20 ms until it is true or timeoutMs has passed.
bool waitUntil(const std::function<bool()>& check, int timeoutMs);

// Visible top-level windows of a process whose title matches the pattern (xdotool's
// regular expression), in the order xdotool finds them.
QStringList visibleWindows(qint64 pid, const QString& titlePattern);

// The first such window to appear within the time, or nothing.
std::optional<QString> waitForWindow(qint64 pid, const QString& titlePattern,
                                     int timeoutMs = 10000);

// A window's outer position and size on the screen.
QRect windowGeometry(const QString& window);

// Moves the pointer to the screen point and clicks the left button.
void clickAt(QPoint screenPoint);

// A copy of the program started the way a user starts it, with its own settings and
// runtime folders (shared between copies that should see each other). Killed, if still
// running, when it goes out of scope.
class ProgramRun {
public:
    ProgramRun(const QString& configHome, const QString& runtimeDir);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    qint64 pid() const { return process_.processId(); }
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }
    // The exit status once it has ended within the time, else nothing.
    std::optional<int> waitForExit(int timeoutMs = 10000);
    // The main window (the program's 488 x 184 window titled "Morvane").
    std::optional<QString> waitForMainWindow(int timeoutMs = 10000);
    void killHard();

private:
    QProcess process_;
};

// A settings folder and a runtime folder for one test.
struct Homes {
    QTemporaryDir root;
    QString config() const { return root.filePath(QStringLiteral("config")); }
    QString runtime() const { return root.filePath(QStringLiteral("runtime")); }
    QString settingsFile() const { return config() + QStringLiteral("/Morvane/Morvane.conf"); }
    // Makes the folder "shots" beside them and stores it as the program's save folder.
    QString withSaveFolder() const;
    Homes();
};

} // namespace morvane::test
