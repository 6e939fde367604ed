#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <optional>
#include <vector>

namespace morvane {

// The one system-wide capture hotkey: a key grabbed on the root window with a modifier,
// so that pressing it anywhere reaches the program. Presses arrive through Qt's own event
// loop; nothing polls.
class GlobalHotkey : public QObject, public QAbstractNativeEventFilter {
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
    bool grab(int modifierFlags, std::optional<std::uint32_t> keyCode);
    void release();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void pressed();

private:
    struct Grab {
        std::uint8_t keycode;
        std::uint16_t modifiers;
    };
    std::vector<Grab> grabs_;
};

} // namespace morvane
