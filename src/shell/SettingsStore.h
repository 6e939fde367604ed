#pragma once

#include <QString>

namespace morvane {

// The program's only persistent state: three texts in group "config" of the per-user
// INI file $XDG_CONFIG_HOME/Morvane/Morvane.conf. Values go in and come back exactly
// as typed (spaces, quotes, separators, non-ASCII text). Reading never writes.
class SettingsStore {
public:
    // The user's own store.
    SettingsStore();
    // A store kept in the given INI file (same format), for tests and tools.
    explicit SettingsStore(QString iniFile);

    // The stored text, or fallback when the key is absent or the file cannot be read.
    QString read(const QString& key, const QString& fallback) const;
    bool contains(const QString& key) const;
    // Stores the text at once; false when the file could not be written.
    bool write(const QString& key, const QString& value);

    QString fileName() const;

private:
    QString iniFile_;
};

// The save folder when none is stored: the program's own folder where the user may write
// there, else the user's Pictures folder (made when missing), else the home folder.
QString defaultSaveFolder(const QString& programFolder);

namespace settings_keys {
inline const QString kModifier = QStringLiteral("key1");
inline const QString kKey = QStringLiteral("key2");
inline const QString kSavePath = QStringLiteral("savepath");
} // namespace settings_keys

} // namespace morvane
