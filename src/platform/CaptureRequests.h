#pragma once

#include <QObject>
#include <QString>

namespace morvane {

// The running program's capture command on the session bus: the well-known name
// org.morvane.Morvane, the object /org/morvane/Morvane and its interface
// org.morvane.Morvane with one method, Capture(). Desktops that run a command on a key
// (GNOME, sway) reach the program through it, with `morvane --capture`.
//
// Capture() replies at once; requested() follows from the event loop, after the reply has
// gone, so that a caller never waits for the capture itself (which runs nested waits).
class CaptureRequests final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.morvane.Morvane")

public:
    // Owns the name, without queueing behind another owner, and exports the object. Without
    // a session bus, or with the name taken, it logs and serves nothing: the program runs on.
    CaptureRequests();
    // Calls stop().
    ~CaptureRequests() override;

    // Gives up the name and the object; requests already accepted are dropped. Safe to call
    // more than once.
    void stop();
    bool serving() const { return serving_; }

public slots:
    // Called over the bus.
    Q_SCRIPTABLE void Capture();

signals:
    void requested();

private:
    bool serving_ = false;
};

// How `morvane --capture` ended.
struct CaptureAsked {
    enum class Kind {
        Taken,        // the running program accepted the request
        NotRunning,   // nobody owns the name
        NoSessionBus, // no session bus to ask on
        Failed,       // the owner did not answer in time, or answered with an error
    };
    Kind kind = Kind::Failed;
    QString detail; // why, for NoSessionBus and Failed
};

// Asks the running program to capture, through libdbus, without an application or a display.
// Bounded by timeoutMs altogether; never starts the program, nor a session bus.
CaptureAsked askRunningProgramToCapture(int timeoutMs);

} // namespace morvane
