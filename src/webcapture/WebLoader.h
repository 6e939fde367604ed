#pragma once

#include "WebModule.h"

#include <memory>

namespace morvane {

// Loads the browser module (from the installation's private library folder, or beside the
// program in the build folder) and makes its browser window's owner. Nothing when the module
// cannot be found or loaded; the reason is logged and shown through the context's prompts.
std::unique_ptr<WebBrowser> loadWebBrowser(const WebCaptureContext& context);

} // namespace morvane
