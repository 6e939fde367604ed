#pragma once

#include <QString>

class QWidget;

namespace morvane {

// The filter of the crop windows' file dialogs: one entry, description and pattern "*.BMP".
inline const QString kBitmapFilter = QStringLiteral("*.BMP|*.BMP");

// A filter written as description|pattern|description|pattern... turned into QFileDialog's
// "description (pattern)" entries, each pattern matching its names in any letter case
// ("*.BMP" also lists "a.bmp" and "b.Bmp").
QString qtNameFilter(const QString& filter);

// The open and save dialogs of the crop windows. They go through this so that tests can
// answer them in place of a person.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;

    // A modal open dialog starting in initialFolder, with an empty name and the filter (see
    // qtNameFilter). The full path chosen, or an empty text when the dialog was cancelled. A
    // typed name need not exist.
    virtual QString openFile(QWidget* parent, const QString& initialFolder,
                             const QString& filter) = 0;

    // The same as a save dialog: no extension is added and an existing file is chosen
    // without a question.
    virtual QString saveFile(QWidget* parent, const QString& initialFolder,
                             const QString& filter) = 0;
};

class QtFileDialogs final : public FileDialogs {
public:
    // Qt's own dialog instead of the desktop's, for example so that tests can type into it.
    explicit QtFileDialogs(bool useNativeDialogs = true) : native_(useNativeDialogs) {}
    QString openFile(QWidget* parent, const QString& initialFolder, const QString& filter) override;
    QString saveFile(QWidget* parent, const QString& initialFolder, const QString& filter) override;

private:
    QString run(QWidget* parent, const QString& initialFolder, const QString& filter, bool save);
    bool native_;
};

} // namespace morvane
