#pragma once

#include "capture/CaptureFile.h"

#include <QString>
#include <functional>

namespace morvane {

// How a capture request ended, whatever took it (a grab, a page, the crop editor's save),
// for the shell to show the user in one place.
struct CaptureOutcome {
    enum class Kind {
        Saved,      // path is the new file
        NotWritten, // the picture exists (on the clipboard) but no file: reason says why
        NoPicture,  // nothing was captured: reason says why
        Hint,       // nothing was captured: reason says how to go on
    };
    Kind kind = Kind::NoPicture;
    QString path;   // the file written, or the one that could not be
    QString reason; // in the user's words; the file routine's reason for a folder refusing
    // NotWritten: whether the picture is on the clipboard, as a capture's is; a crop the
    // editor could not write is not, it stays in the editor.
    bool onClipboard = true;

    static inline const QString kNoFreeName = QStringLiteral("已没有空闲的文件编号");

    // A file result as an outcome; NoFreeName and FolderRefused are NotWritten.
    static CaptureOutcome of(const CaptureFileResult& result) {
        if (result.written()) {
            return {Kind::Saved, result.path, {}};
        }
        return {Kind::NotWritten, result.path,
                result.outcome == CaptureFileResult::Outcome::NoFreeName ? kNoFreeName
                                                                         : result.error};
    }
    static CaptureOutcome nothing(const QString& reason) { return {Kind::NoPicture, {}, reason}; }
    static CaptureOutcome hint(const QString& text) { return {Kind::Hint, {}, text}; }
};

// Where the outcomes go; the shell shows them from the tray icon.
using OutcomeReport = std::function<void(const CaptureOutcome& outcome)>;

} // namespace morvane
