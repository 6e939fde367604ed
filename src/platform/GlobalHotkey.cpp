#include "GlobalHotkey.h"

#include "KeyCodes.h"
#include "XcbReply.h"
#include "common/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>
#include <set>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace morvane {

namespace {

xcb_connection_t* connection() {
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

struct FreeKeySymbols {
    void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};

// The modifier bit that Num Lock sets on this keyboard, read from the modifier map.
std::uint16_t numLockMask(xcb_connection_t* c, xcb_key_symbols_t* symbols) {
    constexpr xcb_keysym_t kNumLock = 0xFF7F;
    const XcbOwned<xcb_keycode_t> numLockCodes(xcb_key_symbols_get_keycode(symbols, kNumLock));
    if (!numLockCodes) {
        return 0;
    }
    const auto map = xcbReply(c, xcb_get_modifier_mapping_reply, xcb_get_modifier_mapping(c));
    if (!map) {
        return 0;
    }
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t code = codes[modifier * perModifier + k];
            for (const xcb_keycode_t* n = numLockCodes.get(); code && *n; ++n) {
                if (*n == code) {
                    return static_cast<std::uint16_t>(1u << modifier);
                }
            }
        }
    }
    return 0;
}

} // namespace

GlobalHotkey::GlobalHotkey() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installNativeEventFilter(this);
    }
}

GlobalHotkey::~GlobalHotkey() {
    release();
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeNativeEventFilter(this);
    }
}

bool GlobalHotkey::grab(int modifierFlags, std::optional<std::uint32_t> keyCode) {
    release();
    xcb_connection_t* c = connection();
    const auto keysym = keyCode ? keysymForKeyCode(*keyCode) : std::nullopt;
    if (!c) {
        qCWarning(lcMorvane) << "no X connection to grab the hotkey on";
        return false;
    }
    if (!keysym) {
        qCInfo(lcMorvane) << "hotkey key code" << keyCode.value_or(0) << "names no key: no hotkey";
        return false;
    }
    const std::unique_ptr<xcb_key_symbols_t, FreeKeySymbols> symbols(xcb_key_symbols_alloc(c));
    if (!symbols) {
        qCWarning(lcMorvane) << "no key symbols from the X server: no hotkey";
        return false;
    }
    std::uint16_t modifiers = 0;
    if (modifierFlags & kModControl) {
        modifiers |= XCB_MOD_MASK_CONTROL;
    }
    if (modifierFlags & kModAlt) {
        modifiers |= XCB_MOD_MASK_1;
    }
    if (modifierFlags & kModShift) {
        modifiers |= XCB_MOD_MASK_SHIFT;
    }
    const std::uint16_t numLock = numLockMask(c, symbols.get());
    const std::set<std::uint16_t> lockVariants = {
        0, XCB_MOD_MASK_LOCK, numLock, static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLock)};

    QStringList refused; // BadAccess: another client holds these combinations
    const xcb_window_t root = rootWindow(c);
    const XcbOwned<xcb_keycode_t> keycodes(xcb_key_symbols_get_keycode(symbols.get(), *keysym));
    for (const xcb_keycode_t* code = keycodes.get(); code && *code; ++code) {
        for (const std::uint16_t lock : lockVariants) {
            const auto mods = static_cast<std::uint16_t>(modifiers | lock);
            const xcb_void_cookie_t cookie = xcb_grab_key_checked(
                c, 1, root, mods, *code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (const XcbOwned<xcb_generic_error_t> error{xcb_request_check(c, cookie)}) {
                refused << QStringLiteral("keycode %1 modifiers 0x%2").arg(*code).arg(mods, 0, 16);
            } else {
                grabs_.push_back({*code, mods});
            }
        }
    }
    xcb_flush(c);
    if (!refused.isEmpty()) {
        qCWarning(lcMorvane).noquote()
            << "the X server refused the hotkey grab (another program holds it):"
            << refused.join(QStringLiteral(", "));
        // Half a hotkey (one that works only with Caps Lock on, say) would be a puzzle: none.
        release();
        return false;
    }
    if (grabs_.empty()) {
        qCWarning(lcMorvane) << "no key on this keyboard has keysym" << Qt::hex << *keysym
                             << ": no hotkey";
    }
    return !grabs_.empty();
}

void GlobalHotkey::release() {
    xcb_connection_t* c = connection();
    if (c && !grabs_.empty()) {
        const xcb_window_t root = rootWindow(c);
        for (const Grab& g : grabs_) {
            xcb_ungrab_key(c, g.keycode, root, g.modifiers);
        }
        xcb_flush(c);
    }
    grabs_.clear();
}

bool GlobalHotkey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || grabs_.empty()) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    const auto* press = static_cast<const xcb_key_press_event_t*>(message);
    for (const Grab& g : grabs_) {
        if (press->detail == g.keycode && (press->state & 0xff) == g.modifiers) {
            emit pressed();
            return true;
        }
    }
    return false;
}

} // namespace morvane
