#include "HotkeyText.h"

#include <QList>

namespace morvane {

int ModifierFlags(const QString& word) {
    if (word == QLatin1String("Ctrl")) {
        return kModControl;
    }
    if (word == QLatin1String("Alt")) {
        return kModAlt;
    }
    if (word == QLatin1String("Shift")) {
        return kModShift;
    }
    return 0;
}

std::optional<std::uint32_t> hotkeyKeyCode(const QString& keyText) {
    if (keyText.isEmpty()) {
        return std::nullopt;
    }
    return keyText.toUcs4().value(0);
}

} // namespace morvane
