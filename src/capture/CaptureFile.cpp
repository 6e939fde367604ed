#include "CaptureFile.h"

#include "capture/BmpWriter.h"
#include "capture/FileNaming.h"
#include "common/Log.h"

#include <QFile>
#include <cerrno>

namespace morvane {

namespace {

// Each lost race marks one more name taken; this many in a row means something is wrong.
constexpr int kMaxAttempts = 1000;

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
        if (!written) {
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
