#include "FileNaming.h"

#include <QByteArray>
#include <QFile>
#include <climits>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unordered_set>

namespace morvane {

QString CleanTitle(const QString& title) {
    static const QString removed = QStringLiteral("\t\\/:*?\"<>|");
    QString result = title;
    for (const QChar c : removed) {
        result.remove(c);
    }
    return result;
}

namespace {

// The title cut, at a character boundary, to at most maxBytes bytes of UTF-8.
QString fitUtf8(const QString& title, qsizetype maxBytes) {
    if (title.toUtf8().size() <= maxBytes) {
        return title;
    }
    QString result;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < title.size();) {
        const qsizetype units = (title[i].isHighSurrogate() && i + 1 < title.size()) ? 2 : 1;
        const qsizetype size = title.mid(i, units).toUtf8().size();
        if (bytes + size > maxBytes) {
            break;
        }
        result += title.mid(i, units);
        bytes += size;
        i += units;
    }
    return result;
}

} // namespace

QString captureFileName(const QString& cleanedTitle, int n) {
    const QString suffix = QStringLiteral("temp%1.bmp").arg(n);
    return fitUtf8(cleanedTitle, kMaxFileNameBytes - suffix.toUtf8().size()) + suffix;
}

std::optional<QString> MakeCaptureFileName(const QString& cleanedTitle,
                                           const std::function<bool(const QString&)>& taken,
                                           int from) {
    for (int n = std::max(from, 1);; ++n) {
        const QString name = captureFileName(cleanedTitle, n);
        if (!taken(name)) {
            return name;
        }
        if (n == INT_MAX) {
            return std::nullopt;
        }
    }
}

namespace {

// Probing stops being the cheaper way once this many names in a row were taken.
constexpr int kProbesBeforeListing = 32;

bool entryExists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

FolderNames::FolderNames(QString folder) : folder_(std::move(folder)) {}

bool FolderNames::taken(const QString& name) {
    if (listing_) {
        return (*listing_)(name);
    }
    if (++probes_ <= kProbesBeforeListing) {
        return entryExists(folder_ + QLatin1Char('/') + name);
    }
    auto names = std::make_shared<std::unordered_set<std::string>>();
    if (DIR* dir = ::opendir(QFile::encodeName(folder_).constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            names->insert(entry->d_name);
        }
        ::closedir(dir);
    } else {
        // Unreadable folder: keep asking for each name.
        listing_ = [folder = folder_](const QString& n) {
            return entryExists(folder + QLatin1Char('/') + n);
        };
        return (*listing_)(name);
    }
    listing_ = [names](const QString& n) {
        return names->count(QFile::encodeName(n).toStdString()) > 0;
    };
    return (*listing_)(name);
}

} // namespace morvane
