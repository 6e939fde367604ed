#pragma once

#include "Hotkey.h"

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <optional>
#include <vector>

namespace morvane {

// The capture hotkey on X11: a key grabbed on the root window with a modifier, so that
// pressing it anywhere reaches the program.
class GlobalHotkey final : public Hotkey, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    GlobalHotkey();
    ~GlobalHotkey() override;

    // Grabs the key for the virtual-key code with the modifier flags (Alt 1, Ctrl 2,
    // Shift 4), after releasing the earlier grab. Also grabs the Caps Lock and Num Lock
    // variants, so that the combination works whatever the lock keys say. A code with
    // no key grabs nothing. When the X server refuses any of the variants (another client
    // holds it), the variants already grabbed are released again: false, and the program
    // runs on without a hotkey, as the shell then tells the user.
    bool grab(int modifierFlags, std::optional<std::uint32_t> keyCode) override;
    void release() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab {
        std::uint8_t keycode;
        std::uint16_t modifiers;
    };
    std::vector<Grab> grabs_;
};

} // namespace morvane
