#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>
#include <optional>

class QIODevice;

namespace morvane {

// Which file a path led to: its device and inode.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// How replacing a file ended.
struct ReplaceResult {
    enum class Outcome {
        Replaced,      // the path holds the new file, whose identity is given
        TargetChanged, // the path no longer leads to the file expected: nothing was written
        Failed,        // the folder or its file system refused (missing, read-only, full, or
                       // something other than a file in the way): error says why
    };
    Outcome outcome = Outcome::Failed;
    QString error;
    FileIdentity identity;

    bool replaced() const { return outcome == Outcome::Replaced; }
};

// Puts out a file's whole contents to a device open for writing; false when it refused some.
using WriteContents = std::function<bool(QIODevice& out)>;

// Replaces the file at path, or creates it, with what write puts out. The bytes go to a new
// file in the same folder first (opened through a descriptor of the folder), which is renamed
// over the file only once every byte is on disk; a write that fails leaves the old file as it
// was and removes the new one. A replaced file keeps its permissions.
//
// Without expected, links are followed (a link keeps pointing at the replaced file). With
// expected, the path must still lead to that very file, checked on the folder's descriptor
// with no link followed just before the rename; otherwise nothing is written. The rename
// replaces a folder entry and never writes through a link, so even an entry swapped in at
// the last instant can only be replaced itself: the file it points to is never touched.
// Every outcome but Replaced is logged.
ReplaceResult replaceFile(const QString& path, const WriteContents& write,
                          std::optional<FileIdentity> expected = std::nullopt);

} // namespace morvane
