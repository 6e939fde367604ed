#pragma once

#include "editor/FileDialogs.h"

#include <QList>
#include <QStringList>

namespace morvane::test {

// Answers the crop windows' file dialogs at once and remembers what each was shown with.
class RecordingFileDialogs final : public FileDialogs {
public:
    struct Request {
        bool save = false;
        QString initialFolder;
        QString filter;
    };

    // The answers, in turn, to both kinds of dialog; an empty text (cancelled) once they
    // run out.
    QStringList answers;
    QList<Request> requests;

    QString openFile(QWidget*, const QString& initialFolder, const QString& filter) override {
        return answer(false, initialFolder, filter);
    }
    QString saveFile(QWidget*, const QString& initialFolder, const QString& filter) override {
        return answer(true, initialFolder, filter);
    }

private:
    QString answer(bool save, const QString& initialFolder, const QString& filter) {
        requests.append({save, initialFolder, filter});
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
};

} // namespace morvane::test
