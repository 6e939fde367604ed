#include "KeyCodes.h"

#include <array>
#include <utility>

namespace morvane {

std::optional<std::uint32_t> keysymForKeyCode(std::uint32_t code) {
    if (code >= 0x41 && code <= 0x5A) {
        return 0x61 + (code - 0x41); // the letter key: XK_a ... XK_z
    }
    if (code >= 0x30 && code <= 0x39) {
        return code; // XK_0 ... XK_9
    }
    if (code >= 0x60 && code <= 0x69) {
        return 0xFFB0 + (code - 0x60); // XK_KP_0 ... XK_KP_9
    }
    if (code >= 0x70 && code <= 0x87) {
        return 0xFFBE + (code - 0x70); // XK_F1 ... XK_F24
    }
    static constexpr std::array<std::pair<std::uint32_t, std::uint32_t>, 32> named{{
        {0x08, 0xFF08}, // BackSpace
        {0x09, 0xFF09}, // Tab
        {0x0D, 0xFF0D}, // Return
        {0x13, 0xFF13}, // Pause
        {0x14, 0xFFE5}, // Caps_Lock
        {0x1B, 0xFF1B}, // Escape
        {0x20, 0x0020}, // space
        {0x21, 0xFF55}, // Prior (Page Up)
        {0x22, 0xFF56}, // Next (Page Down)
        {0x23, 0xFF57}, // End
        {0x24, 0xFF50}, // Home
        {0x25, 0xFF51}, // Left
        {0x26, 0xFF52}, // Up
        {0x27, 0xFF53}, // Right
        {0x28, 0xFF54}, // Down
        {0x2C, 0xFF61}, // Print
        {0x2D, 0xFF63}, // Insert
        {0x2E, 0xFFFF}, // Delete
        {0x6A, 0xFFAA}, // KP_Multiply
        {0x6B, 0xFFAB}, // KP_Add
        {0x6D, 0xFFAD}, // KP_Subtract
        {0x6E, 0xFFAE}, // KP_Decimal
        {0x6F, 0xFFAF}, // KP_Divide
        {0x90, 0xFF7F}, // Num_Lock
        {0x91, 0xFF14}, // Scroll_Lock
        {0xBA, 0x003B}, // semicolon
        {0xBB, 0x003D}, // equal
        {0xBC, 0x002C}, // comma
        {0xBD, 0x002D}, // minus
        {0xBE, 0x002E}, // period
        {0xBF, 0x002F}, // slash
        {0xC0, 0x0060}, // grave
    }};
    for (const auto& [key, keysym] : named) {
        if (key == code) {
            return keysym;
        }
    }
    switch (code) {
    case 0xDB:
        return 0x005B; // bracketleft
    case 0xDC:
        return 0x005C; // backslash
    case 0xDD:
        return 0x005D; // bracketright
    case 0xDE:
        return 0x0027; // apostrophe
    default:
        return std::nullopt;
    }
}

} // namespace morvane
