#include "BrowserView.h"

#include <algorithm>
#include <iterator>

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

bool isWebBrowserClass(const QByteArray& windowClass) {
    static const char* const kBrowsers[] = {
        "chromium",           "chromium-browser", "google-chrome", "brave-browser",
        "vivaldi-stable",     "microsoft-edge",   "opera",         "firefox",
        "firefox-esr",        "librewolf",        "waterfox",      "epiphany",
        "org.gnome.epiphany", "falkon",           "konqueror",     "midori",
        "qutebrowser"};
    const QByteArray name = windowClass.toLower();
    return std::any_of(std::begin(kBrowsers), std::end(kBrowsers),
                       [&](const char* browser) { return name == browser; });
}

bool isInWebBrowser(Desktop& desktop, WindowId window) {
    // Bounded, as any walk along links another program controls.
    for (int step = 0; step < 64 && window != 0; ++step) {
        if (isWebBrowserClass(desktop.className(window))) {
            return true;
        }
        window = desktop.parentOf(window);
    }
    return false;
}

} // namespace morvane
