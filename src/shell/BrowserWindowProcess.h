#pragma once

#include "platform/DesktopSession.h"

namespace morvane {

// The browser window's process (BrowserProcess starts it): opens the addresses the program
// sends in the browser window, passes on the window's pictures, outcomes and state, and ends
// with status 0 once the window has closed or the program has gone. Runs the application's
// event loop; call it with the application made.
int runBrowserWindowProcess(SessionKind session);

} // namespace morvane
