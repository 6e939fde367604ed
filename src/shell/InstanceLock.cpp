#include "InstanceLock.h"

#include "common/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace morvane {

namespace {

const QString kLockName = QStringLiteral("/morvane.lock");

// Takes the lock: Taken, Held (a live owner has it) or Unusable (no file can be made there).
enum class Outcome { Taken, Held, Unusable };

Outcome take(QLockFile& lock) {
    // Only a lock whose owner is gone is stale; a live owner is never overridden.
    lock.setStaleLockTime(0);
    if (lock.tryLock(0)) {
        return Outcome::Taken;
    }
    return lock.error() == QLockFile::LockFailedError ? Outcome::Held : Outcome::Unusable;
}

} // namespace

InstanceLock::InstanceLock() : InstanceLock(defaultLockFile(), fallbackLockFile()) {}

InstanceLock::InstanceLock(const QString& lockFile, const QString& fallbackLockFile)
    : lock_(lockFile), fallback_(fallbackLockFile), hasFallback_(!fallbackLockFile.isEmpty()) {}

bool InstanceLock::acquire() {
    Outcome outcome = take(lock_);
    if (outcome == Outcome::Unusable && hasFallback_) {
        qCInfo(lcMorvane) << "no lock in" << lock_.fileName() << "(error" << lock_.error()
                          << "), trying" << fallback_.fileName();
        QDir().mkpath(QFileInfo(fallback_.fileName()).path());
        outcome = take(fallback_);
    }
    held_ = outcome == Outcome::Taken;
    if (outcome == Outcome::Unusable) {
        qCWarning(lcMorvane) << "no instance lock could be made; running without one";
    }
    return outcome != Outcome::Held;
}

QString InstanceLock::defaultLockFile() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder + kLockName;
}

QString InstanceLock::fallbackLockFile() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return folder.isEmpty() ? QString() : folder + kLockName;
}

} // namespace morvane
