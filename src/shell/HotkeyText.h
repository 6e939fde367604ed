#pragma once

#include "platform/KeyCodes.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace morvane {

// "Ctrl" 2, "Alt" 1, "Shift" 4, anything else (other case, blanks, other words, empty) 0.
int ModifierFlags(const QString& word);

// The key code of the hotkey: the code of the first character of the text, as it stands
// (no case folding; the rest is ignored). Nothing for an empty text.
std::optional<std::uint32_t> hotkeyKeyCode(const QString& keyText);

} // namespace morvane
