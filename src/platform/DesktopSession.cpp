#include "DesktopSession.h"

#include "Clipboard.h"
#include "GlobalHotkey.h"
#include "KWinDesktop.h"
#include "KdeHotkey.h"
#include "SwayDesktop.h"
#include "SwayHotkey.h"
#include "SwayIpc.h"
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

bool swayAnswers() {
    const QByteArray socket = SwayIpc::socketFromEnvironment();
    return !socket.isEmpty() &&
           SwayIpc(socket).ask(SwayIpc::GetVersion, {}, std::chrono::milliseconds(500));
}

// The Wayland desktop the program captures on natively, if any.
std::optional<SessionKind> nativeWayland(const SessionFacts& facts) {
    if (facts.waylandDisplay.isEmpty()) {
        return std::nullopt;
    }
    if (facts.kwinAnswers) {
        return SessionKind::KWin;
    }
    if (facts.swayAnswers) {
        return SessionKind::Sway;
    }
    return std::nullopt;
}

} // namespace

SessionChoice chooseSession(const SessionFacts& facts) {
    const bool wayland = !facts.waylandDisplay.isEmpty();
    const std::optional<SessionKind> native = nativeWayland(facts);
    if (facts.qtPlatform.isEmpty()) {
        if (native) {
            return {*native, QByteArrayLiteral("wayland")};
        }
        return {wayland ? SessionKind::Xwayland : SessionKind::X11, QByteArrayLiteral("xcb")};
    }
    if (facts.qtPlatform.startsWith("xcb")) {
        return {wayland ? SessionKind::Xwayland : SessionKind::X11, {}};
    }
    if (facts.qtPlatform.startsWith("wayland") && native) {
        return {*native, {}};
    }
    return {SessionKind::Elsewhere, {}};
}

SessionFacts readSessionFacts() {
    SessionFacts facts;
    facts.qtPlatform = qgetenv("QT_QPA_PLATFORM");
    facts.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    const bool mayRunOnWayland =
        facts.qtPlatform.isEmpty() || facts.qtPlatform.startsWith("wayland");
    const bool wayland = !facts.waylandDisplay.isEmpty() && mayRunOnWayland;
    facts.swayAnswers = wayland && swayAnswers();
    facts.kwinAnswers = wayland && !facts.swayAnswers && kwinOnSessionBus();
    return facts;
}

DesktopServices makeDesktopServices(SessionKind kind) {
    DesktopServices services;
    if (kind == SessionKind::KWin) {
        services.desktop = std::make_unique<KWinDesktop>(KWinScript::open());
    } else if (kind == SessionKind::Sway) {
        services.desktop = std::make_unique<SwayDesktop>(
            std::make_unique<SwayIpc>(SwayIpc::socketFromEnvironment()));
    } else {
        services.desktop = std::make_unique<X11Desktop>();
    }
    if (isWaylandSession(kind)) {
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
    if (kind == SessionKind::Sway) {
        return std::make_unique<SwayHotkey>(
            std::make_unique<SwayIpc>(SwayIpc::socketFromEnvironment()));
    }
    return std::make_unique<GlobalHotkey>();
}

} // namespace morvane
