#pragma once

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace morvane {

struct FreeMalloced {
    void operator()(void* block) const { std::free(block); }
};

// A block that xcb malloc'ed for the caller (a reply, an error, a keycode list).
template <typename T> using XcbOwned = std::unique_ptr<T, FreeMalloced>;

// The reply to a request, or nothing when the server answered with an error (a window gone
// between two questions, most often). Both the reply and the error are owned from the moment
// xcb hands them over, so neither can be left unfreed.
//     const auto geometry = xcbReply(c, xcb_get_geometry_reply, xcb_get_geometry(c, window));
template <typename Reply, typename Cookie>
XcbOwned<Reply> xcbReply(xcb_connection_t* connection,
                         Reply* (*fetch)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                         Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    XcbOwned<Reply> reply(fetch(connection, cookie, &error));
    const XcbOwned<xcb_generic_error_t> ownedError(error);
    if (ownedError) {
        return nullptr;
    }
    return reply;
}

} // namespace morvane
