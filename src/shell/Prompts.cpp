#include "Prompts.h"

#include <QMessageBox>

namespace morvane {

void QtPrompts::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Morvane"), text, QMessageBox::Ok, parent_);
    box.exec();
}

} // namespace morvane
