#pragma once

#include "WebModule.h"

#include <QStringList>
#include <memory>

namespace morvane {

// Loads the browser module (from the installation's private library folder, or beside the
// program in the build folder) and makes its browser window's owner. Nothing when the module
// cannot be found or loaded; the reason is logged and shown through the context's prompts.
std::unique_ptr<WebBrowser> loadWebBrowser(const WebCaptureContext& context);

// The same from the first of the paths that exists. Only a regular file is loaded: a pipe or a
// device in the module's place would hold the program in the loader for good.
std::unique_ptr<WebBrowser> loadWebBrowserFrom(const QStringList& candidates,
                                               const WebCaptureContext& context);

} // namespace morvane
