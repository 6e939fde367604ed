#pragma once

#include <QFont>
#include <QString>

namespace morvane {

// The interface was drawn for the SimSun face. Linux desktops rarely have it, so the
// first installed CJK face from a preference list stands in for it at the same size.
QString cjkFontFamily();

QFont uiFont(double pointSize, bool bold = false, bool underline = false);

} // namespace morvane
