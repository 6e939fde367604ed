#pragma once

#include "WebModule.h"

#include <memory>

namespace morvane {

// Loads the browser module (beside the program, or where the build put it) and makes its
// browser window's owner. Nothing when the module cannot be loaded; the reason is logged.
std::unique_ptr<WebBrowser> loadWebBrowser(const WebCaptureContext& context);

} // namespace morvane
