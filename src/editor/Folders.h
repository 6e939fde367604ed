#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace morvane {

// The drives of this machine: the root paths of the mounted volumes, each once, sorted.
QStringList mountedDrives();

// The drive that holds path: of the drives, the one whose root is the longest whole-folder
// prefix of path ("/" holds everything). Empty when none does.
QString driveOf(const QString& path, const QStringList& drives);

// The folder a text names, or the nearest folder above it that exists: the text is taken as
// a path from the current folder, cleaned, and walked up until an existing folder is found.
// A root is written with its trailing "/", any other folder without one.
QString nearestExistingFolder(const QString& text);

// A folder list: the current path's ancestors from the root down, each indented one step
// further, then the current path's subfolders. A double-click opens a folder and makes it
// the current path; a single click only highlights one.
class FolderList : public QListWidget {
    Q_OBJECT

public:
    explicit FolderList(QWidget* parent = nullptr);

    // The current path: a full folder path, "/" for the root, no trailing "/" otherwise.
    const QString& path() const { return path_; }
    // Shows the folder (or, when it does not exist, the nearest one above it).
    void setPath(const QString& folder);

private:
    QString path_;
};

} // namespace morvane
