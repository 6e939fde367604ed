#include "FileDialogs.h"

#include <QFileDialog>
#include <QStringList>

namespace morvane {

namespace {

// Letters as [xX] classes, so the pattern ignores letter case on any file system.
QString anyCase(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        if (c.toLower() != c.toUpper()) {
            result += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace

QString qtNameFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = anyCase(pattern.trimmed());
        }
        entries << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QString QtFileDialogs::openFile(QWidget* parent, const QString& initialFolder,
                                const QString& filter) {
    return run(parent, initialFolder, filter, false);
}

QString QtFileDialogs::saveFile(QWidget* parent, const QString& initialFolder,
                                const QString& filter) {
    return run(parent, initialFolder, filter, true);
}

QString QtFileDialogs::run(QWidget* parent, const QString& initialFolder, const QString& filter,
                           bool save) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog, !native_);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Neither dialog insists that a typed name exists, adds an extension or asks before a
    // file is replaced.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setDirectory(initialFolder);
    dialog.setNameFilter(qtNameFilter(filter));
    // The list of types shows each entry's description alone ("*.BMP"), not the letter-case
    // classes behind it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

} // namespace morvane
