#pragma once

#include <QLockFile>
#include <QString>

namespace morvane {

// One running copy per user. The lock lives in the user's runtime folder and names the
// process that holds it, so a copy that crashed or was killed never blocks the next start.
class InstanceLock {
public:
    InstanceLock();
    explicit InstanceLock(const QString& lockFile);

    // True when this process may run: it now holds the lock, or no lock can be kept at
    // all (no usable runtime folder), in which case a start is never refused.
    // False only when another live instance holds it.
    bool acquire();

    static QString defaultLockFile();

private:
    QLockFile lock_;
};

} // namespace morvane
