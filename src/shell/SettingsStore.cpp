#include "SettingsStore.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace morvane {

namespace {

const QString kGroup = QStringLiteral("config");

std::unique_ptr<QSettings> open(const QString& iniFile) {
    if (iniFile.isEmpty()) {
        // On Linux the native format is the INI file under $XDG_CONFIG_HOME.
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("Morvane"), QStringLiteral("Morvane"));
    }
    return std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
}

QString keyPath(const QString& key) {
    return kGroup + QLatin1Char('/') + key;
}

} // namespace

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(QString iniFile) : iniFile_(std::move(iniFile)) {}

QString SettingsStore::read(const QString& key, const QString& fallback) const {
    const auto settings = open(iniFile_);
    if (settings->status() != QSettings::NoError) {
        return fallback;
    }
    const QVariant value = settings->value(keyPath(key));
    if (!value.isValid()) {
        return fallback;
    }
    // A hand-edited file may hold an unquoted list ("a, b"); show it as one text.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    if (!value.canConvert<QString>()) {
        return fallback;
    }
    return value.toString();
}

bool SettingsStore::write(const QString& key, const QString& value) {
    const auto settings = open(iniFile_);
    settings->setValue(keyPath(key), value);
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString SettingsStore::fileName() const {
    return open(iniFile_)->fileName();
}

} // namespace morvane
