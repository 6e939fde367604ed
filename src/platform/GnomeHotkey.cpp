#include "GnomeHotkey.h"

#include "KeyCodes.h"
#include "common/Log.h"

#include <QCoreApplication>
#include <algorithm>
#include <memory>
#include <xkbcommon/xkbcommon.h>

// GLib names a structure member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace morvane {

namespace {

const char kMediaKeys[] = "org.gnome.settings-daemon.plugins.media-keys";
const char kCustomBinding[] = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const char kCustomList[] = "custom-keybindings";
const char kEntryPath[] =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/morvane/";

// The desktop's own bindings: the settings daemon's, the window manager's and the shell's.
const char* const kDesktopSchemas[] = {
    kMediaKeys,
    "org.gnome.desktop.wm.keybindings",
    "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings",
};

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
struct StrvFree {
    void operator()(gchar** p) const { g_strfreev(p); }
};
struct ObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
struct SchemaUnref {
    void operator()(GSettingsSchema* p) const { g_settings_schema_unref(p); }
};
struct KeyUnref {
    void operator()(GSettingsSchemaKey* p) const { g_settings_schema_key_unref(p); }
};
struct VariantUnref {
    void operator()(GVariant* p) const { g_variant_unref(p); }
};
using Settings = std::unique_ptr<GSettings, ObjectUnref>;
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;
using Strv = std::unique_ptr<gchar*, StrvFree>;

// The installed schema, or nothing (GNOME's schemas are not there outside GNOME).
Schema lookUp(const char* id) {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    return Schema(source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr);
}

Settings open(const char* id, const char* path = nullptr) {
    Schema schema = lookUp(id);
    return Settings(schema ? g_settings_new_full(schema.get(), nullptr, path) : nullptr);
}

QList<QByteArray> strings(gchar** values) {
    QList<QByteArray> list;
    for (gchar** value = values; value && *value; ++value) {
        list.append(QByteArray(*value));
    }
    return list;
}

QList<QByteArray> customPaths(GSettings* mediaKeys) {
    return strings(Strv(g_settings_get_strv(mediaKeys, kCustomList)).get());
}

void setCustomPaths(GSettings* mediaKeys, const QList<QByteArray>& paths) {
    std::vector<const gchar*> values;
    for (const QByteArray& path : paths) {
        values.push_back(path.constData());
    }
    values.push_back(nullptr);
    g_settings_set_strv(mediaKeys, kCustomList, values.data());
}

QByteArray stringOf(GSettings* settings, const char* key) {
    return QByteArray(std::unique_ptr<gchar, GFree>(g_settings_get_string(settings, key)).get());
}

// The accelerators a key of the desktop's own schema holds: a string or a list of them.
QList<QByteArray> acceleratorsOf(GSettings* settings, GSettingsSchema* schema, const char* key) {
    const std::unique_ptr<GSettingsSchemaKey, KeyUnref> schemaKey(
        g_settings_schema_get_key(schema, key));
    const GVariantType* type = g_settings_schema_key_get_value_type(schemaKey.get());
    const std::unique_ptr<GVariant, VariantUnref> value(g_settings_get_value(settings, key));
    if (g_variant_type_equal(type, G_VARIANT_TYPE_STRING)) {
        return {QByteArray(g_variant_get_string(value.get(), nullptr))};
    }
    if (g_variant_type_equal(type, G_VARIANT_TYPE_STRING_ARRAY)) {
        const std::unique_ptr<const gchar*, GFree> values(g_variant_get_strv(value.get(), nullptr));
        QList<QByteArray> list;
        for (const gchar** v = values.get(); v && *v; ++v) {
            list.append(QByteArray(*v));
        }
        return list;
    }
    return {};
}

// Takes the program's entry out of the list and clears it, whoever wrote it.
void removeEntry(GSettings* mediaKeys, GSettings* entry) {
    QList<QByteArray> paths = customPaths(mediaKeys);
    if (paths.removeAll(kEntryPath) > 0) {
        setCustomPaths(mediaKeys, paths);
    }
    for (const char* key : {"name", "command", "binding"}) {
        g_settings_reset(entry, key);
    }
    g_settings_sync();
}

// Single-quoted for the settings daemon, which splits the command as a shell would.
QByteArray shellQuoted(const QByteArray& text) {
    QByteArray quoted = text;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

} // namespace

GnomeHotkey::GnomeHotkey(QByteArray command) : command_(std::move(command)) {
    if (command_.isEmpty()) {
        command_ = shellQuoted(QCoreApplication::applicationFilePath().toUtf8()) + " --capture";
    }
}

GnomeHotkey::~GnomeHotkey() {
    release();
}

const char* GnomeHotkey::entryPath() {
    return kEntryPath;
}

QByteArray GnomeHotkey::acceleratorName(int modifierFlags, std::uint32_t keyCode) {
    const std::optional<std::uint32_t> keysym = keysymForKeyCode(keyCode);
    char name[64];
    if (!keysym || xkb_keysym_get_name(*keysym, name, sizeof name) <= 0) {
        return {};
    }
    QByteArray accelerator;
    if (modifierFlags & kModControl) {
        accelerator += "<Control>";
    }
    if (modifierFlags & kModAlt) {
        accelerator += "<Alt>";
    }
    if (modifierFlags & kModShift) {
        accelerator += "<Shift>";
    }
    return accelerator + name;
}

QByteArray GnomeHotkey::normalisedAccelerator(const QByteArray& accelerator) {
    QList<QByteArray> modifiers;
    QByteArray rest = accelerator.trimmed();
    while (rest.startsWith('<')) {
        const qsizetype end = rest.indexOf('>');
        if (end < 0) {
            return {};
        }
        QByteArray modifier = rest.mid(1, end - 1).toLower();
        if (modifier == "ctrl" || modifier == "primary" || modifier == "ctl") {
            modifier = "control";
        } else if (modifier == "mod1") {
            modifier = "alt";
        } else if (modifier == "mod4") {
            modifier = "super";
        }
        if (!modifiers.contains(modifier)) {
            modifiers.append(modifier);
        }
        rest = rest.mid(end + 1);
    }
    if (rest.isEmpty()) {
        return {};
    }
    std::sort(modifiers.begin(), modifiers.end());
    QByteArray normal;
    for (const QByteArray& modifier : modifiers) {
        normal += '<' + modifier + '>';
    }
    return normal + rest.toLower();
}

QList<QByteArray> GnomeHotkey::holdersOf(const QByteArray& accelerator) {
    const QByteArray wanted = normalisedAccelerator(accelerator);
    QList<QByteArray> holders;
    if (wanted.isEmpty()) {
        return holders;
    }
    if (Settings mediaKeys = open(kMediaKeys)) {
        for (const QByteArray& path : customPaths(mediaKeys.get())) {
            if (path == kEntryPath) {
                continue;
            }
            Settings custom = open(kCustomBinding, path.constData());
            if (custom && normalisedAccelerator(stringOf(custom.get(), "binding")) == wanted) {
                holders.append("custom: " + stringOf(custom.get(), "name"));
            }
        }
    }
    for (const char* id : kDesktopSchemas) {
        const Schema schema = lookUp(id);
        if (!schema) {
            continue;
        }
        const Settings settings(g_settings_new_full(schema.get(), nullptr, nullptr));
        const Strv keys(g_settings_schema_list_keys(schema.get()));
        for (gchar** key = keys.get(); key && *key; ++key) {
            for (const QByteArray& held : acceleratorsOf(settings.get(), schema.get(), *key)) {
                if (normalisedAccelerator(held) == wanted) {
                    holders.append(QByteArray(id) + ' ' + *key);
                }
            }
        }
    }
    return holders;
}

bool GnomeHotkey::grab(int modifierFlags, std::optional<std::uint32_t> keyCode) {
    release();
    const QByteArray accelerator =
        keyCode ? acceleratorName(modifierFlags, *keyCode) : QByteArray();
    if (accelerator.isEmpty()) {
        return true; // nothing to take, as on X11
    }
    Settings mediaKeys = open(kMediaKeys);
    Settings entry = open(kCustomBinding, kEntryPath);
    if (!mediaKeys || !entry) {
        qCWarning(lcMorvane) << "GNOME's settings daemon has no custom keybindings here";
        return false;
    }
    if (const QList<QByteArray> holders = holdersOf(accelerator); !holders.isEmpty()) {
        qCInfo(lcMorvane) << "hotkey" << accelerator << "is held by" << holders;
        removeEntry(mediaKeys.get(), entry.get()); // an entry of an earlier run stops too
        return false;
    }
    g_settings_set_string(entry.get(), "name", "Morvane");
    g_settings_set_string(entry.get(), "command", command_.constData());
    g_settings_set_string(entry.get(), "binding", accelerator.constData());
    QList<QByteArray> paths = customPaths(mediaKeys.get());
    if (!paths.contains(kEntryPath)) {
        paths.append(kEntryPath);
        setCustomPaths(mediaKeys.get(), paths);
    }
    g_settings_sync();
    bound_ = true;
    qCInfo(lcMorvane) << "hotkey" << accelerator << "bound in GNOME's settings";
    return true;
}

void GnomeHotkey::release() {
    if (!bound_) {
        return;
    }
    bound_ = false;
    Settings mediaKeys = open(kMediaKeys);
    Settings entry = open(kCustomBinding, kEntryPath);
    if (!mediaKeys || !entry) {
        return;
    }
    removeEntry(mediaKeys.get(), entry.get());
}

} // namespace morvane
