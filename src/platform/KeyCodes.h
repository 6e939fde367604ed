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

} // namespace morvane
