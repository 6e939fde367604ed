#pragma once

#include "Hotkey.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace morvane {

class SwayIpc;

// The capture hotkey in a sway session: a key binding added to sway at run time over its IPC
// (bindsym), which runs a command when the keys are pressed, whichever window has focus. The
// command is this program's own `--capture`, which asks the running instance to capture:
// presses reach the program that way, not through pressed(). A combination the user's own
// configuration binds is left to it and refused; one this program bound before (a run that
// ended without releasing it) is simply bound again.
class SwayHotkey final : public Hotkey {
    Q_OBJECT

public:
    // The command the binding runs; by default the running binary's absolute path with
    // --capture.
    explicit SwayHotkey(std::unique_ptr<SwayIpc> ipc, QByteArray command = {});
    ~SwayHotkey() override;

    bool grab(int modifierFlags, std::optional<std::uint32_t> keyCode) override;
    // Unbinds the combination; safe to call more than once.
    void release() override;

    // The combination as sway names it, e.g. "Ctrl+Shift+s"; empty for a code with no key.
    static QByteArray bindingName(int modifierFlags, std::uint32_t keyCode);
    // Whether the configuration's text binds the combination (in its default mode), with its
    // variables ($mod) and sway's modifier names (Control, Mod1) understood.
    static bool configBinds(const QByteArray& config, const QByteArray& combination);

private:
    std::unique_ptr<SwayIpc> ipc_;
    QByteArray command_;
    QByteArray bound_; // the combination held, empty for none
};

} // namespace morvane
