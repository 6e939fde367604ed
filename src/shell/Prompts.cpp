#include "Prompts.h"

#include <QMessageBox>

namespace morvane {

void QtPrompts::message(const QString& text, MessageScope scope) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Morvane"), text, QMessageBox::Ok, parent_);
    if (scope == MessageScope::System) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
    }
    box.exec();
}

} // namespace morvane
