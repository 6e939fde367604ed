#include "DisplayCheck.h"

#include <xcb/xcb.h>

namespace morvane {

bool xDisplayReachable(const QByteArray& displayName) {
    if (displayName.isEmpty()) {
        return false;
    }
    xcb_connection_t* connection = xcb_connect(displayName.constData(), nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

} // namespace morvane
