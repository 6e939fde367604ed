#include "SwayHotkey.h"

#include "KeyCodes.h"
#include "SwayIpc.h"
#include "common/Log.h"

#include <QCoreApplication>
#include <QList>
#include <QMap>
#include <algorithm>
#include <xkbcommon/xkbcommon.h>

namespace morvane {

namespace {

// A combination in one spelling: sway's modifier aliases folded, names lowercased, the
// modifiers sorted before the key.
QByteArray normalised(const QByteArray& combination) {
    QList<QByteArray> parts = combination.toLower().split('+');
    QByteArray key = parts.takeLast();
    for (QByteArray& part : parts) {
        if (part == "control") {
            part = "ctrl";
        } else if (part == "mod1") {
            part = "alt";
        } else if (part == "super") {
            part = "mod4";
        }
    }
    std::sort(parts.begin(), parts.end());
    parts.append(key);
    return parts.join('+');
}

// Single-quoted for the shell sway hands an exec to.
QByteArray shellQuoted(const QByteArray& text) {
    QByteArray quoted = text;
    quoted.replace('\'', "'\\''");
    return '\'' + quoted + '\'';
}

} // namespace

SwayHotkey::SwayHotkey(std::unique_ptr<SwayIpc> ipc, QByteArray command)
    : ipc_(std::move(ipc)), command_(std::move(command)) {
    if (command_.isEmpty()) {
        command_ = shellQuoted(QCoreApplication::applicationFilePath().toUtf8()) + " --capture";
    }
}

SwayHotkey::~SwayHotkey() {
    release();
}

QByteArray SwayHotkey::bindingName(int modifierFlags, std::uint32_t keyCode) {
    const std::optional<std::uint32_t> keysym = keysymForKeyCode(keyCode);
    char name[64];
    if (!keysym || xkb_keysym_get_name(*keysym, name, sizeof name) <= 0) {
        return {};
    }
    QByteArray combination;
    if (modifierFlags & kModControl) {
        combination += "Ctrl+";
    }
    if (modifierFlags & kModAlt) {
        combination += "Alt+";
    }
    if (modifierFlags & kModShift) {
        combination += "Shift+";
    }
    return combination + name;
}

bool SwayHotkey::configBinds(const QByteArray& config, const QByteArray& combination) {
    const QByteArray wanted = normalised(combination);
    QMap<QByteArray, QByteArray> variables;
    int depth = 0; // inside a mode's block, or another block
    for (QByteArray line : config.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> words = line.simplified().split(' ');
        if (line.endsWith('{')) {
            ++depth;
        }
        if (line == "}") {
            depth = std::max(0, depth - 1);
        }
        if (words.size() >= 3 && words[0] == "set" && words[1].startsWith('$')) {
            variables.insert(words[1], words[2]);
            continue;
        }
        if (depth != 0 || words.first() != "bindsym") {
            continue;
        }
        for (qsizetype i = 1; i < words.size(); ++i) {
            if (words[i].startsWith("--")) {
                continue; // --release, --locked, --to-code and the like
            }
            QByteArray keys = words[i];
            // Longer names first, so that $mod does not take the front of $modifier.
            QList<QByteArray> names = variables.keys();
            std::sort(names.begin(), names.end(),
                      [](const QByteArray& a, const QByteArray& b) { return a.size() > b.size(); });
            for (const QByteArray& name : names) {
                keys.replace(name, variables.value(name));
            }
            if (normalised(keys) == wanted) {
                return true;
            }
            break;
        }
    }
    return false;
}

bool SwayHotkey::grab(int modifierFlags, std::optional<std::uint32_t> keyCode) {
    release();
    const QByteArray combination = keyCode ? bindingName(modifierFlags, *keyCode) : QByteArray();
    if (combination.isEmpty()) {
        return true; // nothing to take, as on X11
    }
    if (!ipc_) {
        return false;
    }
    const std::optional<QByteArray> config = ipc_->config();
    if (!config) {
        qCWarning(lcMorvane) << "sway's configuration could not be read:" << ipc_->failure();
        return false;
    }
    if (configBinds(*config, combination)) {
        qCInfo(lcMorvane) << "hotkey" << combination << "is bound in sway's configuration";
        return false;
    }
    // sway takes the quotes off a binding's words, so the command goes whole inside double
    // quotes, where the single quotes of the shell stay; it has no escape for these two.
    if (command_.contains('"') || command_.contains('\\')) {
        qCWarning(lcMorvane) << "a sway binding cannot run" << command_;
        return false;
    }
    // A binding already there (this program's, from a run that did not release it) is
    // replaced: sway overwrites a binding of the same keys.
    if (!ipc_->run("bindsym --no-repeat " + combination + " \"exec " + command_ + '"')) {
        return false;
    }
    bound_ = combination;
    qCInfo(lcMorvane) << "hotkey" << combination << "bound in sway";
    return true;
}

void SwayHotkey::release() {
    if (bound_.isEmpty()) {
        return;
    }
    if (ipc_) {
        ipc_->run("unbindsym " + bound_);
    }
    bound_.clear();
}

} // namespace morvane
