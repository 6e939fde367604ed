#include "DesktopSession.h"

#include "Clipboard.h"
#include "GlobalHotkey.h"
#include "KWinDesktop.h"
#include "KdeHotkey.h"
#include "WaylandClipboard.h"
#include "X11Desktop.h"
#include "common/Log.h"

#include <dbus/dbus.h>

namespace morvane {

namespace {

bool nameHasOwner(DBusConnection* connection, const char* name) {
    DBusError error;
    dbus_error_init(&error);
    const bool owned = dbus_bus_name_has_owner(connection, name, &error);
    dbus_error_free(&error);
    return owned;
}

bool kwinOnSessionBus() {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (!connection) {
        return false;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    const bool answers = nameHasOwner(connection, "org.kde.KWin") &&
                         nameHasOwner(connection, "org.kde.KWin.ScreenShot2");
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
    return answers;
}

} // namespace

SessionChoice chooseSession(const SessionFacts& facts) {
    const bool wayland = !facts.waylandDisplay.isEmpty();
    if (facts.qtPlatform.isEmpty()) {
        if (wayland && facts.kwinAnswers) {
            return {SessionKind::KWin, QByteArrayLiteral("wayland")};
        }
        return {wayland ? SessionKind::Xwayland : SessionKind::X11, QByteArrayLiteral("xcb")};
    }
    if (facts.qtPlatform.startsWith("xcb")) {
        return {wayland ? SessionKind::Xwayland : SessionKind::X11, {}};
    }
    if (facts.qtPlatform.startsWith("wayland") && wayland && facts.kwinAnswers) {
        return {SessionKind::KWin, {}};
    }
    return {SessionKind::Elsewhere, {}};
}

SessionFacts readSessionFacts() {
    SessionFacts facts;
    facts.qtPlatform = qgetenv("QT_QPA_PLATFORM");
    facts.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    const bool mayRunOnWayland =
        facts.qtPlatform.isEmpty() || facts.qtPlatform.startsWith("wayland");
    facts.kwinAnswers = !facts.waylandDisplay.isEmpty() && mayRunOnWayland && kwinOnSessionBus();
    return facts;
}

DesktopServices makeDesktopServices(SessionKind kind) {
    DesktopServices services;
    if (kind == SessionKind::KWin) {
        services.desktop = std::make_unique<KWinDesktop>(KWinScript::open());
    } else {
        services.desktop = std::make_unique<X11Desktop>();
    }
    if (kind == SessionKind::KWin) {
        // Qt's own clipboard on Wayland needs a focused window of the program, which a
        // capture by hotkey never has: the compositor's data control sets it without focus.
        QString whyNot;
        if (std::unique_ptr<WaylandClipboard> clipboard = WaylandClipboard::create(&whyNot)) {
            services.clipboard = std::move(clipboard);
            return services;
        }
        qCWarning(lcMorvane) << "no clipboard without focus:" << whyNot
                             << "; captures reach the clipboard only while a window of the "
                                "program has focus";
    }
    services.clipboard = std::make_unique<QtClipboard>();
    return services;
}

std::unique_ptr<Hotkey> makeHotkey(SessionKind kind) {
    if (kind == SessionKind::KWin) {
        return std::make_unique<KdeHotkey>();
    }
    return std::make_unique<GlobalHotkey>();
}

} // namespace morvane
