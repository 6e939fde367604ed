#include "BrowserView.h"

namespace morvane {

WindowId FindBrowserView(Desktop& desktop, WindowId parent) {
    for (const WindowId child : desktop.children(parent)) {
        QByteArray name = desktop.className(child);
        const qsizetype nul = name.indexOf('\0');
        if (nul >= 0) {
            name.truncate(nul);
        }
        if (name == "Shell Embedding") {
            return child;
        }
    }
    return 0;
}

} // namespace morvane
