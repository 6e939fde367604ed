#include "DesktopSession.h"

#include "Clipboard.h"
#include "GlobalHotkey.h"
#include "GnomeHotkey.h"
#include "KWinDesktop.h"
#include "KdeHotkey.h"
#include "PortalDesktop.h"
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

// Whether the bus starts a service of the name when asked.
bool nameActivatable(DBusConnection* connection, const char* name) {
    DBusMessage* call =
        dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "ListActivatableNames");
    if (!call) {
        return false;
    }
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(connection, call, 500, nullptr);
    dbus_message_unref(call);
    bool found = false;
    DBusMessageIter args;
    if (reply && dbus_message_iter_init(reply, &args) &&
        dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_ARRAY) {
        DBusMessageIter names;
        dbus_message_iter_recurse(&args, &names);
        while (!found && dbus_message_iter_get_arg_type(&names) == DBUS_TYPE_STRING) {
            const char* each = nullptr;
            dbus_message_iter_get_basic(&names, &each);
            found = each && qstrcmp(each, name) == 0;
            dbus_message_iter_next(&names);
        }
    }
    if (reply) {
        dbus_message_unref(reply);
    }
    return found;
}

// The desktop services of a Wayland session that is not sway's, from the session bus.
void readSessionBus(SessionFacts& facts) {
    DBusError error;
    dbus_error_init(&error);
    DBusConnection* connection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    dbus_error_free(&error);
    if (!connection) {
        return;
    }
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    facts.kwinAnswers = nameHasOwner(connection, "org.kde.KWin") &&
                        nameHasOwner(connection, "org.kde.KWin.ScreenShot2");
    if (!facts.kwinAnswers) {
        const char portal[] = "org.freedesktop.portal.Desktop";
        facts.gnomeAnswers = nameHasOwner(connection, "org.gnome.Shell");
        facts.portalAnswers =
            nameHasOwner(connection, portal) || nameActivatable(connection, portal);
    }
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
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
    if (facts.portalAnswers) {
        return facts.gnomeAnswers ? SessionKind::Gnome : SessionKind::Portal;
    }
    return std::nullopt;
}

bool portalOnly(SessionKind kind) {
    return kind == SessionKind::Gnome || kind == SessionKind::Portal;
}

} // namespace

SessionChoice chooseSession(const SessionFacts& facts) {
    const bool wayland = !facts.waylandDisplay.isEmpty();
    const std::optional<SessionKind> native = nativeWayland(facts);
    if (facts.qtPlatform.isEmpty()) {
        if (native) {
            const bool throughX = portalOnly(*native) && facts.x11Display;
            return {*native, throughX ? QByteArrayLiteral("xcb") : QByteArrayLiteral("wayland")};
        }
        return {wayland ? SessionKind::Xwayland : SessionKind::X11, QByteArrayLiteral("xcb")};
    }
    if (facts.qtPlatform.startsWith("xcb")) {
        if (native && portalOnly(*native)) {
            return {*native, {}};
        }
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
    facts.x11Display = !qgetenv("DISPLAY").isEmpty();
    const bool mayRunOnWayland =
        facts.qtPlatform.isEmpty() || facts.qtPlatform.startsWith("wayland");
    const bool wayland = !facts.waylandDisplay.isEmpty();
    facts.swayAnswers = wayland && mayRunOnWayland && swayAnswers();
    if (wayland && !facts.swayAnswers) {
        readSessionBus(facts);
        // KWin's windows and pixels are reached only from a Wayland client.
        facts.kwinAnswers = facts.kwinAnswers && mayRunOnWayland;
    }
    return facts;
}

DesktopServices makeDesktopServices(SessionKind kind) {
    DesktopServices services;
    if (kind == SessionKind::KWin) {
        services.desktop = std::make_unique<KWinDesktop>(KWinScript::open());
    } else if (kind == SessionKind::Sway) {
        services.desktop = std::make_unique<SwayDesktop>(
            std::make_unique<SwayIpc>(SwayIpc::socketFromEnvironment()));
    } else if (kind == SessionKind::Gnome) {
        services.desktop = std::make_unique<PortalDesktop>(QStringLiteral("GNOME"));
    } else if (kind == SessionKind::Portal) {
        services.desktop = std::make_unique<PortalDesktop>(QStringLiteral("此桌面"));
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
        if (qgetenv("QT_QPA_PLATFORM").startsWith("xcb")) {
            // The desktop shares the clipboard of its X server, which needs no focus.
            qCInfo(lcMorvane) << "clipboard through the X server:" << whyNot;
            services.clipboard = std::make_unique<QtClipboard>();
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
    if (kind == SessionKind::Gnome) {
        return std::make_unique<GnomeHotkey>();
    }
    if (kind == SessionKind::Portal) {
        // No Wayland desktop lets a program take a key: the user binds `morvane --capture`
        // in the desktop's own settings.
        return std::make_unique<NoHotkey>();
    }
    return std::make_unique<GlobalHotkey>();
}

} // namespace morvane
