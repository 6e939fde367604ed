#pragma once

#include <QObject>

class QSocketNotifier;

namespace morvane {

// SIGTERM, SIGINT and SIGHUP as requests to shut down in order. The handler only writes a
// byte into a pipe; the event loop reads it and emits requested(), so that the shutdown runs
// as any other does. A second signal once one has come ends the process at once.
class ShutdownSignals : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; call before any thread starts, so that no signal finds the
    // program without them. A signal the program was started with ignored (SIGHUP under
    // nohup) stays ignored. False when the pipe cannot be made: the signals then end the
    // program as they would without it.
    static bool install();

    // Watches the pipe from this thread's event loop; a signal that came before is told as
    // soon as the loop runs.
    explicit ShutdownSignals(QObject* parent = nullptr);

signals:
    void requested(int signal);

private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace morvane
