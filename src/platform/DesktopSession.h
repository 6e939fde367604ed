#pragma once

#include <QByteArray>
#include <memory>

namespace morvane {

class ClipboardSink;
class Desktop;
class Hotkey;

// Which desktop the program works with, chosen once at start-up.
enum class SessionKind {
    X11,       // an X server: the program's own X11 desktop
    KWin,      // a KDE Plasma Wayland session whose KWin answers on the session bus
    Sway,      // a sway session whose IPC socket (SWAYSOCK) answers
    Gnome,     // a GNOME Wayland session: the screen through the desktop portal, keys through
               // the settings daemon
    Portal,    // another Wayland session whose desktop portal answers: the screen through it
    Xwayland,  // any other Wayland session: through its X server, seeing only X applications
    Elsewhere, // a Qt platform the user chose that is neither (offscreen, say): no capture
};

// The facts the choice is made from, read from the environment and the session bus.
struct SessionFacts {
    QByteArray qtPlatform;      // QT_QPA_PLATFORM as the user set it
    QByteArray waylandDisplay;  // WAYLAND_DISPLAY
    bool kwinAnswers = false;   // KWin's window scripting and screenshot interfaces are on the bus
    bool swayAnswers = false;   // sway answers on the socket SWAYSOCK names
    bool gnomeAnswers = false;  // GNOME's shell is on the session bus
    bool portalAnswers = false; // the desktop portal is on the session bus, or starts on demand
    bool x11Display = false;    // DISPLAY is set: the session has an X server as well
};

// The choice itself, and the Qt platform the program then runs on (empty: as the user set
// it). A Wayland session runs on Qt's wayland platform where the program can capture there
// through the compositor (KWin, sway). Where only the portal gives pixels (GNOME and others),
// the program runs through the session's X server when it has one: the desktop shares the
// clipboard with it, whereas a Wayland client's clipboard needs a focused window there.
// Elsewhere it goes through the session's X server.
struct SessionChoice {
    SessionKind kind = SessionKind::X11;
    QByteArray qtPlatform;
};
SessionChoice chooseSession(const SessionFacts& facts);

// Whether the program captures in a Wayland session: pixels (and windows, where the desktop
// tells them) through the compositor or its portal rather than an X server.
inline bool isWaylandSession(SessionKind kind) {
    return kind == SessionKind::KWin || kind == SessionKind::Sway || kind == SessionKind::Gnome ||
           kind == SessionKind::Portal;
}

// Reads the facts: the environment, one question to sway when SWAYSOCK is set, and one to
// the session bus when the session is Wayland and not sway's. Asked before the application exists.
SessionFacts readSessionFacts();

// What the capture works through on the chosen desktop.
struct DesktopServices {
    std::unique_ptr<Desktop> desktop;
    std::unique_ptr<ClipboardSink> clipboard;
};
DesktopServices makeDesktopServices(SessionKind kind);
std::unique_ptr<Hotkey> makeHotkey(SessionKind kind);

} // namespace morvane
