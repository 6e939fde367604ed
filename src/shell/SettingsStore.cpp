#include "SettingsStore.h"

#include "common/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
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

bool SettingsStore::contains(const QString& key) const {
    const auto settings = open(iniFile_);
    return settings->status() == QSettings::NoError && settings->contains(keyPath(key));
}

bool SettingsStore::write(const QString& key, const QString& value) {
    const auto settings = open(iniFile_);
    settings->setValue(keyPath(key), value);
    settings->sync();
    if (settings->status() != QSettings::NoError || !settings->isWritable()) {
        qCWarning(lcMorvane) << "setting" << key << "not stored in" << settings->fileName();
        return false;
    }
    return true;
}

QString SettingsStore::fileName() const {
    return open(iniFile_)->fileName();
}

QString defaultSaveFolder(const QString& programFolder) {
    const auto writable = [](const QString& folder) {
        const QFileInfo info(folder);
        return !folder.isEmpty() && info.isDir() && info.isWritable();
    };
    if (writable(programFolder)) {
        return programFolder;
    }
    QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QDir().mkpath(pictures) && writable(pictures)) {
        qCInfo(lcMorvane) << "program folder" << programFolder << "not writable; saving to"
                          << pictures;
        return pictures;
    }
    qCInfo(lcMorvane) << "neither" << programFolder << "nor" << pictures
                      << "writable; saving to the home folder";
    return QDir::homePath();
}

} // namespace morvane
