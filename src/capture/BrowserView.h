#pragma once

#include "platform/Desktop.h"

namespace morvane {

// The window in which an embedded browser shows its page: the first direct child of parent,
// from the top of the stacking order down, whose class is exactly "Shell Embedding"; 0 when
// there is none. Deeper windows are not searched.
WindowId FindBrowserView(Desktop& desktop, WindowId parent);

// Whether a window class is a web browser's (Chromium, Chrome, Firefox and their kin), by its
// name, whatever its case.
bool isWebBrowserClass(const QByteArray& windowClass);

// Whether the window or one of its ancestors has a web browser's class.
bool isInWebBrowser(Desktop& desktop, WindowId window);

} // namespace morvane
