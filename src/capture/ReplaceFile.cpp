#include "ReplaceFile.h"

#include "common/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes it now; false (errno set) when the system reports a late write error.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// The folder and name of the file that writing to path replaces: the end of its links when
// it has any (a dangling link: where it points), else the path itself.
struct Place {
    QString folder;
    QString name;
};

std::optional<Place> placeOf(const QString& path) {
    const QFileInfo info(path);
    const QString existing = info.canonicalFilePath();
    if (!existing.isEmpty()) {
        const QFileInfo target(existing);
        return Place{target.absolutePath(), target.fileName()};
    }
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath());
    const QString folder = QFileInfo(target.absolutePath()).canonicalFilePath();
    if (folder.isEmpty() || target.fileName().isEmpty()) {
        return std::nullopt;
    }
    return Place{folder, target.fileName()};
}

FileIdentity identityOf(const struct stat& info) {
    return {static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

// What stands under the name in the folder, links not followed.
std::optional<struct stat> entryIn(int folder, const QByteArray& name) {
    struct stat info {};
    if (::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return info;
}

bool isExpectedFile(const std::optional<struct stat>& entry, const FileIdentity& expected) {
    return entry && S_ISREG(entry->st_mode) && identityOf(*entry) == expected;
}

// A new, exclusively created file in the folder under a name of its own.
int createTemporary(int folder, QByteArray& name, mode_t mode) {
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        name = ".morvane-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        const int fd = ::openat(folder, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

ReplaceResult refused(ReplaceResult::Outcome outcome, const QString& path, const QString& error) {
    qCWarning(lcMorvane) << "file not replaced:" << path << error;
    return {outcome, error, {}};
}

ReplaceResult failed(const QString& path, int code) {
    return refused(ReplaceResult::Outcome::Failed, path, qt_error_string(code));
}

// Writes the contents into the open temporary file and makes them durable. The reason for
// a failure, if any.
std::optional<QString> writeInto(int fd, const WriteContents& write) {
    QFile out;
    if (!out.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle)) {
        return out.errorString();
    }
    errno = 0;
    const bool written = write(out);
    // A write cut short (a full disk) leaves the device without a reason; errno still has it.
    const int code = errno;
    if (!written) {
        return out.error() == QFileDevice::NoError && code != 0 ? qt_error_string(code)
                                                                : out.errorString();
    }
    out.close();
    if (::fsync(fd) != 0) {
        return qt_error_string(errno);
    }
    return std::nullopt;
}

} // namespace

ReplaceResult replaceFile(const QString& path, const WriteContents& write,
                          std::optional<FileIdentity> expected) {
    using Outcome = ReplaceResult::Outcome;
    const QString gone = QStringLiteral("the file is no longer the one expected");
    const std::optional<Place> place = placeOf(path);
    if (!place) {
        return expected ? refused(Outcome::TargetChanged, path, gone) : failed(path, ENOENT);
    }
    // The folder and the names in it are used through this descriptor from here on, so a
    // folder or link swapped in along the path afterwards changes nothing.
    const Descriptor folder(::open(QFile::encodeName(place->folder).constData(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0) {
        return expected && errno == ELOOP ? refused(Outcome::TargetChanged, path, gone)
                                          : failed(path, errno);
    }
    const QByteArray name = QFile::encodeName(place->name);
    const std::optional<struct stat> before = entryIn(folder.get(), name);
    if (expected && !isExpectedFile(before, *expected)) {
        return refused(Outcome::TargetChanged, path, gone);
    }
    if (before && !S_ISREG(before->st_mode)) {
        return failed(path, S_ISDIR(before->st_mode) ? EISDIR : EEXIST);
    }

    // A new file gets the usual permissions (as the umask allows); a replacement starts
    // private and takes the replaced file's.
    QByteArray temporary;
    Descriptor out(createTemporary(folder.get(), temporary, before ? 0600 : 0666));
    if (out.get() < 0) {
        return failed(path, errno);
    }
    const auto discard = [&](Outcome outcome, const QString& error) {
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return refused(outcome, path, error);
    };
    if (before) {
        ::fchmod(out.get(), before->st_mode & 07777);
    }
    if (const std::optional<QString> error = writeInto(out.get(), write)) {
        return discard(Outcome::Failed, *error);
    }
    struct stat written {};
    if (::fstat(out.get(), &written) != 0 || !out.close()) {
        return discard(Outcome::Failed, qt_error_string(errno));
    }
    if (expected && !isExpectedFile(entryIn(folder.get(), name), *expected)) {
        return discard(Outcome::TargetChanged, gone);
    }
    if (::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0) {
        return discard(Outcome::Failed, qt_error_string(errno));
    }
    return {Outcome::Replaced, QString(), identityOf(written)};
}

} // namespace morvane
