#include "Application.h"

#include "common/Fonts.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStyleFactory>
#include <QTranslator>

namespace morvane {

void configureApplication() {
    QApplication::setApplicationName(QStringLiteral("Morvane"));
    QApplication::setOrganizationName(QStringLiteral("Morvane"));
    // The window draws its own colours; Fusion honours them the same on every desktop.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setFont(uiFont(9));
    // Qt's own texts (the file dialogs' labels and buttons, the message boxes' buttons, the
    // browser's menus) in the program's language, whatever the desktop's.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    for (const QString& catalogue : {QStringLiteral("qtbase"), QStringLiteral("qtwebengine")}) {
        auto* translator = new QTranslator(qApp);
        if (translator->load(QLocale(QLocale::Chinese, QLocale::China), catalogue,
                             QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(translator);
        } else {
            delete translator;
        }
    }
    // The program lives on while its main window is hidden; only shutdown ends it.
    QApplication::setQuitOnLastWindowClosed(false);
}

} // namespace morvane
