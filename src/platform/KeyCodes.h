#pragma once

#include <cstdint>
#include <optional>

namespace morvane {

// Modifier flags of a hotkey: Alt 1, Ctrl 2, Shift 4.
inline constexpr int kModAlt = 1;
inline constexpr int kModControl = 2;
inline constexpr int kModShift = 4;

// The X keysym of a Windows-style virtual-key code: letters, digits, keypad digits and
// operators, F1 to F24 and the usual named keys. Nothing for a code with no key.
std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t keyCode);

// The Qt key code (Qt::Key, with Qt::KeypadModifier for keypad keys) of a Windows-style
// virtual-key code, for desktops that name keys as Qt does. Nothing for a code with no key.
std::optional<int> qtKeyForKeyCode(std::uint32_t keyCode);

// The Qt modifier bits (Qt::KeyboardModifiers) of the hotkey's modifier flags.
int qtModifiersForFlags(int modifierFlags);

} // namespace morvane
