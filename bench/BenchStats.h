#pragma once

// Small measuring helpers shared by the bench tools.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <algorithm>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace bench {

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Resident memory of a process ("self" for this one), in KiB; -1 when unknown.
inline long residentKiB(const QString& pid = QStringLiteral("self")) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

// The name of a file of exactly `size` bytes in the folder that is not in `known`; empty
// while there is none. Names starting with a dot (the program's temporary files) are left
// out. Plain system calls: the hotkey benches ask this every 0.2 ms.
inline std::string newFileOfSize(const QByteArray& folder, off_t size,
                                 const std::set<std::string>& known) {
    std::string found;
    DIR* dir = opendir(folder.constData());
    if (!dir) {
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        if (entry->d_name[0] != '.' && !known.count(entry->d_name) &&
            fstatat(dirfd(dir), entry->d_name, &info, 0) == 0 && info.st_size == size) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace bench
