#pragma once

#include <QLockFile>
#include <QString>

namespace morvane {

// One running copy per user. The lock lives in the user's runtime folder and names the
// process that holds it, so a copy that crashed or was killed never blocks the next start.
// Where the runtime folder takes no file (read-only), the lock is kept in the cache folder.
class InstanceLock {
public:
    InstanceLock();
    explicit InstanceLock(const QString& lockFile, const QString& fallbackLockFile = QString());

    // True when this process may run: it now holds a lock, or no lock can be kept at all
    // (neither folder usable), in which case a start is never refused but held() is false.
    // False only when another live instance holds it.
    bool acquire();

    // Whether acquire() took a lock; false when it let the program run without one.
    bool held() const { return held_; }

    static QString defaultLockFile();
    static QString fallbackLockFile();

private:
    QLockFile lock_;
    QLockFile fallback_;
    bool hasFallback_;
    bool held_ = false;
};

} // namespace morvane
