#pragma once

// Small measuring helpers shared by the bench tools.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <dirent.h>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
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

// What a process has used so far: processor time of all its threads, and how often each
// living thread was switched out, waiting (voluntary) or pre-empted (involuntary), by id.
// A thread's counts go with it when it ends, so a period's switches count the threads that
// lived through it (or began in it), and the threads that ended are counted apart.
struct Usage {
    double cpuMs = 0;
    std::map<QString, long> switches;
};

// A period between two such readings.
struct Quiet {
    double cpuMs = 0;
    long switches = 0;
    int threadsEnded = 0;
};

inline Quiet between(const Usage& start, const Usage& end) {
    Quiet quiet{end.cpuMs - start.cpuMs, 0, 0};
    for (const auto& [thread, count] : end.switches) {
        const auto before = start.switches.find(thread);
        quiet.switches += count - (before == start.switches.end() ? 0 : before->second);
    }
    for (const auto& entry : start.switches) {
        quiet.threadsEnded += end.switches.count(entry.first) ? 0 : 1;
    }
    return quiet;
}

inline Usage usageOf(qint64 pid) {
    Usage usage;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        // After the command's name in parentheses: state is field 3, utime 14, stime 15.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const double msPerTick = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
        usage.cpuMs = (fields.value(11).toDouble() + fields.value(12).toDouble()) * msPerTick;
    }
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks + QLatin1Char('/') + task + QStringLiteral("/status"));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:")) {
                usage.switches[task] += line.mid(line.indexOf(':') + 1).trimmed().toLong();
            }
        }
    }
    return usage;
}

} // namespace bench
