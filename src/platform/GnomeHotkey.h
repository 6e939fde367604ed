#pragma once

#include "Hotkey.h"

#include <QByteArray>
#include <QList>

namespace morvane {

// The capture hotkey in a GNOME session: a custom keybinding of the settings daemon's
// media-keys plugin, which runs a command when the keys are pressed, whichever window has
// focus. The command is this program's own `--capture`, which asks the running instance to
// capture: presses reach the program that way, not through pressed().
//
// The program owns one entry, at a path of its own under the plugin's custom keybindings:
// grab() writes it and adds it to the plugin's list, release() takes it out again. The
// user's other bindings are never touched. An entry left by a run that did not release it is
// simply written over, so it is never doubled. A combination another binding (a custom one,
// or one of the desktop's own) already holds is refused.
class GnomeHotkey final : public Hotkey {
    Q_OBJECT

public:
    // The command the binding runs; by default the running binary's absolute path with
    // --capture.
    explicit GnomeHotkey(QByteArray command = {});
    ~GnomeHotkey() override;

    bool grab(int modifierFlags, std::optional<std::uint32_t> keyCode) override;
    // Takes the entry out of the list and clears it; safe to call more than once.
    void release() override;

    // Where the program's entry lives.
    static const char* entryPath();
    // The combination as GNOME writes it, e.g. "<Control><Shift>s"; empty for a code with no
    // key.
    static QByteArray acceleratorName(int modifierFlags, std::uint32_t keyCode);
    // One spelling of an accelerator, so that "<Primary>S" and "<Ctrl>s" compare equal.
    static QByteArray normalisedAccelerator(const QByteArray& accelerator);
    // The bindings other than the program's own that hold the accelerator, by their names
    // ("custom: <name>" for a custom one, "schema key" for the desktop's).
    static QList<QByteArray> holdersOf(const QByteArray& accelerator);

private:
    QByteArray command_;
    bool bound_ = false;
};

} // namespace morvane
