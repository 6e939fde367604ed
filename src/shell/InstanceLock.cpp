#include "InstanceLock.h"

#include <QDir>
#include <QStandardPaths>

namespace morvane {

InstanceLock::InstanceLock() : InstanceLock(defaultLockFile()) {}

InstanceLock::InstanceLock(const QString& lockFile) : lock_(lockFile) {
    // Only a lock whose owner is gone is stale; a live owner is never overridden.
    lock_.setStaleLockTime(0);
}

bool InstanceLock::acquire() {
    if (lock_.tryLock(0)) {
        return true;
    }
    return lock_.error() != QLockFile::LockFailedError;
}

QString InstanceLock::defaultLockFile() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return folder + QStringLiteral("/morvane.lock");
}

} // namespace morvane
