#pragma once

#include <QByteArray>

namespace morvane {

// Whether an X server answers at the display name (as DISPLAY gives it). Opens and closes
// a connection of its own; asked before the application connects, so that a missing
// server is told plainly instead of ending the program with an abort.
bool xDisplayReachable(const QByteArray& displayName);

} // namespace morvane
