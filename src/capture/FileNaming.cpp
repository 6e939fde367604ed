#include "FileNaming.h"

#include <QByteArray>
#include <QFile>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace morvane {

QString CleanTitle(const QString& title) {
    static const QString removed = QStringLiteral("\t\\/:*?\"<>|");
    QString result = title;
    for (const QChar c : removed) {
        result.remove(c);
    }
    // Control characters (an escape sequence, a line break) have no place in a file name, nor
    // have the invisible ones that reorder or break what is shown: "photo" U+202E "gnp.exe"
    // would show as "photoexe.png".
    result.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x061c || u == 0x200e || u == 0x200f ||
               u == 0x2028 || u == 0x2029 || (u >= 0x202a && u <= 0x202e) ||
               (u >= 0x2066 && u <= 0x2069);
    });
    // A name starting with a dot would be hidden.
    qsizetype dots = 0;
    while (dots < result.size() && result[dots] == QLatin1Char('.')) {
        ++dots;
    }
    return result.mid(dots);
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
    // Most titles fit whole: then a name is just title + suffix, with no measuring per number.
    const qsizetype titleBytes = cleanedTitle.toUtf8().size();
    for (int n = std::max(from, 1);; ++n) {
        const QString suffix = QLatin1String("temp") + QString::number(n) + QLatin1String(".bmp");
        const QString name = titleBytes + suffix.size() <= kMaxFileNameBytes
                                 ? cleanedTitle + suffix
                                 : captureFileName(cleanedTitle, n);
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

} // namespace

bool entryExists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

FolderNames::FolderNames(QString folder, QString cleanedTitle)
    : folder_(std::move(folder)), title_(std::move(cleanedTitle)),
      prefix_(title_.toUtf8().toStdString() + "temp"),
      // The longest number, 2147483647, still leaves the title whole.
      titleFitsWhole_(prefix_.size() + 10 + 4 <= static_cast<std::size_t>(kMaxFileNameBytes)) {}

int FolderNames::captureNumber(const char* name, std::size_t length) const {
    constexpr std::size_t kBmp = 4;
    if (length <= prefix_.size() + kBmp || std::memcmp(name, prefix_.data(), prefix_.size()) != 0 ||
        std::memcmp(name + length - kBmp, ".bmp", kBmp) != 0) {
        return 0;
    }
    const char* digit = name + prefix_.size();
    const char* end = name + length - kBmp;
    if (*digit == '0' || end - digit > 9) {
        return 0; // no leading zeros; more than 9 digits is past what is tracked
    }
    int n = 0;
    for (; digit < end; ++digit) {
        if (*digit < '0' || *digit > '9') {
            return 0;
        }
        n = n * 10 + (*digit - '0');
    }
    return n;
}

namespace {

// Capture numbers the folder's listing keeps track of; a name with a larger one is kept
// by name.
constexpr int kMaxNumber = 1 << 24;

bool inRange(int n) {
    return n > 0 && n < kMaxNumber;
}

} // namespace

bool FolderNames::noteNumber(int n) {
    if (!inRange(n)) {
        return false;
    }
    if (static_cast<std::size_t>(n) >= numbers_.size()) {
        numbers_.resize(static_cast<std::size_t>(n) + 1);
    }
    numbers_[static_cast<std::size_t>(n)] = true;
    return true;
}

bool FolderNames::numberTaken(int n) const {
    return static_cast<std::size_t>(n) < numbers_.size() && numbers_[static_cast<std::size_t>(n)];
}

void FolderNames::readFolder() {
    listed_ = true;
    DIR* dir = ::opendir(QFile::encodeName(folder_).constData());
    if (!dir) {
        unreadable_ = true;
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::size_t length = std::strlen(entry->d_name);
        if (!noteNumber(captureNumber(entry->d_name, length))) {
            others_.emplace(entry->d_name, length);
        }
    }
    ::closedir(dir);
}

bool FolderNames::taken(const QString& name) {
    const std::string bytes = QFile::encodeName(name).toStdString();
    if (others_.count(bytes) > 0) {
        return true; // a name lost to another program, or listed
    }
    if (!listed_ && ++probes_ <= kProbesBeforeListing) {
        return entryExists(folder_ + QLatin1Char('/') + name);
    }
    if (!listed_) {
        readFolder();
    }
    if (unreadable_) {
        return entryExists(folder_ + QLatin1Char('/') + name);
    }
    const int n = captureNumber(bytes.data(), bytes.size());
    return inRange(n) ? numberTaken(n) : others_.count(bytes) > 0;
}

void FolderNames::markTaken(const QString& name) {
    const std::string bytes = QFile::encodeName(name).toStdString();
    others_.insert(bytes);
    noteNumber(captureNumber(bytes.data(), bytes.size()));
}

std::optional<QString> FolderNames::firstFree() {
    const auto check = [this](const QString& name) { return taken(name); };
    // A few probes answer for folders with few captures of this title.
    for (int n = 1; n <= kProbesBeforeListing; ++n) {
        const QString name = captureFileName(title_, n);
        if (!check(name)) {
            return name;
        }
    }
    if (!listed_) {
        readFolder();
    }
    if (unreadable_ || !titleFitsWhole_) {
        return MakeCaptureFileName(title_, check, kProbesBeforeListing + 1);
    }
    // Every name of this title now maps to its number: find the first number not in use.
    for (int n = kProbesBeforeListing + 1; n < kMaxNumber; ++n) {
        if (!numberTaken(n)) {
            return captureFileName(title_, n);
        }
    }
    return MakeCaptureFileName(title_, check, kMaxNumber);
}

} // namespace morvane
