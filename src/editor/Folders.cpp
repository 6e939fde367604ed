#include "Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>

namespace morvane {

namespace {

// Where an entry starts, in the list's character cells, per level of depth.
constexpr int kIndentPerLevel = 2;

bool holds(const QString& root, const QString& path) {
    if (root == QStringLiteral("/")) {
        return path.startsWith(QLatin1Char('/'));
    }
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

QListWidgetItem* folderItem(const QIcon& icon, const QString& name, const QString& path,
                            int depth) {
    auto* item = new QListWidgetItem(
        icon, QString(qsizetype{depth} * kIndentPerLevel, QLatin1Char(' ')) + name);
    item->setData(Qt::UserRole, path);
    item->setToolTip(path);
    return item;
}

QString joined(const QString& folder, const QString& name) {
    return folder == QStringLiteral("/") ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

QStringList mountedDrives() {
    QStringList drives;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady() && !drives.contains(volume.rootPath())) {
            drives << volume.rootPath();
        }
    }
    if (!drives.contains(QStringLiteral("/"))) {
        drives << QStringLiteral("/");
    }
    drives.sort();
    return drives;
}

QString driveOf(const QString& path, const QStringList& drives) {
    QString best;
    for (const QString& root : drives) {
        if (holds(root, path) && root.size() > best.size()) {
            best = root;
        }
    }
    return best;
}

QString nearestExistingFolder(const QString& text) {
    QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(text));
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder) {
            break;
        }
        folder = parent;
    }
    return folder;
}

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { setPath(item->data(Qt::UserRole).toString()); });
}

void FolderList::setPath(const QString& folder) {
    path_ = nearestExistingFolder(folder);
    clear();
    // The ancestors, root first, then the current folder itself.
    QStringList chain;
    for (QString at = path_;; at = QFileInfo(at).path()) {
        chain.prepend(at);
        if (QFileInfo(at).path() == at) {
            break;
        }
    }
    // The way down to the current folder shows open folders, its subfolders closed ones.
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    int depth = 0;
    for (const QString& at : chain) {
        const QString name = at == QStringLiteral("/") ? at : QFileInfo(at).fileName();
        addItem(folderItem(open, name, at, depth++));
    }
    QListWidgetItem* current = item(count() - 1);
    QStringList children =
        QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& child : children) {
        addItem(folderItem(closed, child, joined(path_, child), depth));
    }
    setCurrentItem(current);
    scrollToItem(current);
}

} // namespace morvane
