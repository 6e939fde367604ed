#pragma once

#include "capture/Dispatcher.h"

#include <QString>
#include <functional>

class QWidget;

namespace morvane {

class Desktop;
class Prompts;

// What the browser window needs of the rest of the program.
struct WebCaptureContext {
    QWidget* mainWindow = nullptr;       // disabled while the browser window is open
    std::function<QString()> saveFolder; // the save-folder box, read when it is needed
    Prompts* prompts = nullptr;
    Desktop* desktop = nullptr; // where the page's pixels are read from the screen
    ClipboardSink* clipboard = nullptr;
    // The desktop cannot read the screen, and its windows have no X window ids: the page's
    // pixels come from the view's own rendering, and the browser window places no marks in
    // the window tree and asks the desktop nothing of its own windows (desktop is not used).
    bool pixelsFromView = false;
    OutcomeReport report; // how each page capture ended, for the shell to show
    // Told when a page capture starts (true) and when it has stopped, before its outcome.
    std::function<void(bool running)> captureRunning;
};

// The browser window, as the rest of the program drives it: open an address, close.
class WebBrowser : public WebAddressOpener {
public:
    virtual void closeBrowser() = 0;
};

// The browser lives in a module of its own, loaded with the first web capture, so that the
// program starts and idles without the web engine. The module exports this factory.
using CreateWebBrowser = WebBrowser* (*)(const WebCaptureContext* context);
inline constexpr const char* kCreateWebBrowser = "morvane_create_web_browser";

// The web engine draws with OpenGL contexts shared with the application's, and checks for the
// shared context as soon as its library is loaded: call this before loading the module. Qt
// could make that context at start-up, but that loads the whole OpenGL driver (some 60 MB)
// into a program that may never open a page.
void shareOpenGLContexts();

} // namespace morvane
