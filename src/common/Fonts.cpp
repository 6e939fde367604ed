#include "Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace morvane {

QString cjkFontFamily() {
    static const QString family = [] {
        const QStringList preferred = {
            QStringLiteral("SimSun"),
            QStringLiteral("NSimSun"),
            QStringLiteral("Noto Serif CJK SC"),
            QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("WenQuanYi Micro Hei"),
            QStringLiteral("WenQuanYi Zen Hei"),
            QStringLiteral("AR PL UMing CN"),
            QStringLiteral("Droid Sans Fallback"),
        };
        const QStringList installed = QFontDatabase::families();
        for (const QString& name : preferred) {
            if (installed.contains(name, Qt::CaseInsensitive)) {
                return name;
            }
        }
        // Whatever fontconfig substitutes for Chinese text.
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont uiFont(double pointSize, bool bold, bool underline) {
    QFont font(cjkFontFamily());
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

} // namespace morvane
