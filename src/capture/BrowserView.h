#pragma once

#include "platform/Desktop.h"

namespace morvane {

// The window in which an embedded browser shows its page: the first direct child of parent,
// from the top of the stacking order down, whose class is exactly "Shell Embedding"; 0 when
// there is none. Deeper windows are not searched.
WindowId FindBrowserView(Desktop& desktop, WindowId parent);

} // namespace morvane
