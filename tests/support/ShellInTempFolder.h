#pragma once

#include "support/RecordingPrompts.h"

#include "shell/InstanceLock.h"
#include "shell/SettingsStore.h"
#include "shell/Shell.h"

#include <QTemporaryDir>

namespace morvane::test {

// The program's shell with its settings file and lock in a folder of its own, a recorder
// answering its messages, and an ending of the program that is only counted. Fixtures
// derive from it to use the members by name.
struct ShellInTempFolder {
    QTemporaryDir dir;
    QString settingsPath = dir.filePath(QStringLiteral("Morvane.conf"));
    QString lockPath = dir.filePath(QStringLiteral("morvane.lock"));
    SettingsStore settings{settingsPath};
    RecordingPrompts prompts;
    InstanceLock lock{lockPath};
    int endings = 0;
    Shell shell{settings, prompts, lock, [this] { ++endings; }};
};

} // namespace morvane::test
