#include "CaptureFile.h"

#include "capture/BmpWriter.h"
#include "capture/FileNaming.h"
#include "common/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace morvane {

namespace {

// Each lost race marks one more name taken; this many in a row means something is wrong.
constexpr int kMaxAttempts = 1000;

// How long after a capture its pages are let go of: by then the kernel has written out a
// screen's file even to a slow disk, and captures in quick succession still find the pages of
// the ones before free again.
constexpr int kReleaseMs = 250;

// The file's pages go to the disk now rather than when the kernel gets round to them, and
// once they are there the kernel is told the program will not read them again. A capture is
// written once and read, if ever, by another program: keeping its pages cached crowds out
// memory, and on a machine whose free memory is cold, taking fresh pages for the next file
// costs several times the write itself (10 ms against 2 for 6 MB). Pages not yet written
// out are left alone by the kernel (they stay cached); either way the file is unchanged.
void writeBehind(QFile& file) {
    ::sync_file_range(file.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    QTimer::singleShot(kReleaseMs, [path = QFile::encodeName(file.fileName())] {
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    });
}

} // namespace

bool createExclusively(QFile& file) {
    // Unbuffered: the bitmap is handed over in large pieces, which go straight to the file.
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered);
}

CaptureFileResult writeCaptureFile(const QString& folder, const QString& cleanedTitle,
                                   const QImage& picture, const CreateExclusively& create) {
    using Outcome = CaptureFileResult::Outcome;
    if (picture.isNull()) {
        qCWarning(lcMorvane) << "capture not written: no picture";
        return {Outcome::FolderRefused, QString(), QStringLiteral("no picture")};
    }
    FolderNames names(folder, cleanedTitle);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const std::optional<QString> name = names.firstFree();
        if (!name) {
            break;
        }
        const QString path = folder + QLatin1Char('/') + *name;
        QFile file(path);
        if (!create(file)) {
            if (entryExists(path)) {
                qCInfo(lcMorvane) << "capture name taken by another program, trying the next:"
                                  << path;
                names.markTaken(*name);
                continue;
            }
            qCWarning(lcMorvane) << "capture not written:" << path << file.errorString();
            return {Outcome::FolderRefused, path, file.errorString()};
        }
        errno = 0;
        bool written = writeBmp24(file, picture) && file.flush();
        // The reason is read before close(), which clears it. A write cut short (a full
        // disk) leaves Qt without one; the system's error number still says why.
        const int code = errno;
        QString error;
        if (written) {
            writeBehind(file);
        } else {
            error = file.error() == QFileDevice::NoError && code != 0 ? qt_error_string(code)
                                                                      : file.errorString();
        }
        file.close();
        if (written && file.error() != QFileDevice::NoError) {
            written = false;
            error = file.errorString();
        }
        if (!written) {
            file.remove();
            qCWarning(lcMorvane) << "capture not written:" << path << error;
            return {Outcome::FolderRefused, path, error};
        }
        return {Outcome::Written, path, QString()};
    }
    qCWarning(lcMorvane) << "capture not written: no free name for" << cleanedTitle << "in"
                         << folder;
    return {Outcome::NoFreeName, QString(), QString()};
}

} // namespace morvane
