#include "BrowserView.h"

namespace morvane {

WindowId FindBrowserView(Desktop& desktop, WindowId parent) {
    for (const WindowId child : desktop.children(parent)) {
        // className is cut at its first NUL already.
        if (desktop.className(child) == "Shell Embedding") {
            return child;
        }
    }
    return 0;
}

} // namespace morvane
