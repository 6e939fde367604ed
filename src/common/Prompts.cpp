#include "Prompts.h"

#include <QInputDialog>
#include <QMessageBox>

namespace morvane {

void QtPrompts::message(const QString& text, MessageScope scope) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Morvane"), text, QMessageBox::Ok, parent_);
    if (scope == MessageScope::System) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    box.exec();
}

QString QtPrompts::input(const QString& prompt, const QString& title, const QString& initial) {
    QInputDialog box(parent_);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(initial);
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}

} // namespace morvane
