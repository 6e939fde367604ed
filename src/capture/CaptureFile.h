#pragma once

#include <QImage>
#include <QString>
#include <functional>

class QFile;

namespace morvane {

// How writing a capture under the next free number ended.
struct CaptureFileResult {
    enum class Outcome {
        Written,       // path is the new file
        FolderRefused, // the folder took no file (missing, read-only, full): error says why
        NoFreeName,    // every number of the title is taken
    };
    Outcome outcome = Outcome::NoFreeName;
    QString path;  // the file written, or the one that could not be
    QString error; // why the folder refused it

    bool written() const { return outcome == Outcome::Written; }
};

// Opens a file whose name is set, for writing, only if no entry of that name exists yet.
using CreateExclusively = std::function<bool(QFile& file)>;
bool createExclusively(QFile& file);

// Writes the picture as a 24-bit bitmap into the folder (its text used unchanged) under the
// capture name with the lowest free number for the title. The name is chosen first and then
// created exclusively: when another program takes it in between, the next free number is
// used, so nothing that exists is ever overwritten. A write that fails part-way removes its
// partial file. Every failure is logged.
CaptureFileResult writeCaptureFile(const QString& folder, const QString& cleanedTitle,
                                   const QImage& picture,
                                   const CreateExclusively& create = createExclusively);

} // namespace morvane
