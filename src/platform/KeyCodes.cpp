#include "KeyCodes.h"

#include <Qt>
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

std::optional<int> qtKeyForKeyCode(std::uint32_t code) {
    const std::optional<std::uint32_t> keysym = keysymForKeyCode(code);
    if (!keysym) {
        return std::nullopt;
    }
    const std::uint32_t sym = *keysym;
    if (sym >= 0x61 && sym <= 0x7A) {
        return int(Qt::Key_A) + int(sym - 0x61); // Qt names letters by their capitals
    }
    if (sym >= 0x20 && sym <= 0x7E) {
        return int(sym); // digits and punctuation: their Latin-1 codes
    }
    if (sym >= 0xFFB0 && sym <= 0xFFB9) {
        return (int(Qt::Key_0) + int(sym - 0xFFB0)) | int(Qt::KeypadModifier);
    }
    if (sym >= 0xFFAA && sym <= 0xFFAF) {
        return int(sym - 0xFFAA + 0x2A) | int(Qt::KeypadModifier); // * + , - . /
    }
    if (sym >= 0xFFBE && sym <= 0xFFD5) {
        return int(Qt::Key_F1) + int(sym - 0xFFBE);
    }
    static constexpr std::array<std::pair<std::uint32_t, int>, 19> named{{
        {0xFF08, Qt::Key_Backspace},  {0xFF09, Qt::Key_Tab},      {0xFF0D, Qt::Key_Return},
        {0xFF13, Qt::Key_Pause},      {0xFFE5, Qt::Key_CapsLock}, {0xFF1B, Qt::Key_Escape},
        {0xFF55, Qt::Key_PageUp},     {0xFF56, Qt::Key_PageDown}, {0xFF57, Qt::Key_End},
        {0xFF50, Qt::Key_Home},       {0xFF51, Qt::Key_Left},     {0xFF52, Qt::Key_Up},
        {0xFF53, Qt::Key_Right},      {0xFF54, Qt::Key_Down},     {0xFF61, Qt::Key_Print},
        {0xFF63, Qt::Key_Insert},     {0xFFFF, Qt::Key_Delete},   {0xFF7F, Qt::Key_NumLock},
        {0xFF14, Qt::Key_ScrollLock},
    }};
    for (const auto& [from, key] : named) {
        if (from == sym) {
            return key;
        }
    }
    return std::nullopt;
}

int qtModifiersForFlags(int modifierFlags) {
    int modifiers = 0;
    if (modifierFlags & kModAlt) {
        modifiers |= int(Qt::AltModifier);
    }
    if (modifierFlags & kModControl) {
        modifiers |= int(Qt::ControlModifier);
    }
    if (modifierFlags & kModShift) {
        modifiers |= int(Qt::ShiftModifier);
    }
    return modifiers;
}

} // namespace morvane
