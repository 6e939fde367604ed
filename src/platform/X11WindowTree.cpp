// X11Desktop's window tree: the window under a point, parents and owners, the client a
// window manager's frame holds, and where a window lies on the screen.
#include "X11Desktop.h"

#include "XcbReply.h"

#include <QList>
#include <algorithm>
#include <cstring>
#include <xcb/xcb.h>

namespace morvane {

namespace {

// No real window tree is this deep; the bound only stops a walk on a tree that changes
// under it.
constexpr int kMaxDepth = 64;

} // namespace

// The window's children as the server lists them: the bottom of the stacking order first.
QList<WindowId> X11Desktop::childrenOf(WindowId window) {
    QList<WindowId> result;
    if (!connection_ || window == 0) {
        return result;
    }
    const auto tree =
        xcbReply(connection_, xcb_query_tree_reply, xcb_query_tree(connection_, window));
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        result.reserve(count);
        for (int i = 0; i < count; ++i) {
            result << children[i];
        }
    }
    return result;
}

WindowId X11Desktop::windowAt(QPoint screenPoint) {
    if (!connection_) {
        return 0;
    }
    WindowId current = root_;
    QPoint local = screenPoint; // the point in the coordinates of current's inside
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const QList<WindowId> children = childrenOf(current);
        // One round trip per level: every question first, then every answer.
        QList<xcb_get_window_attributes_cookie_t> attributes;
        QList<xcb_get_geometry_cookie_t> geometries;
        attributes.reserve(children.size());
        geometries.reserve(children.size());
        for (const WindowId child : children) {
            attributes << xcb_get_window_attributes(connection_, child);
            geometries << xcb_get_geometry(connection_, child);
        }
        WindowId found = 0;
        QPoint foundLocal;
        // Children come bottom to top; the first hit from the top wins.
        for (qsizetype i = children.size() - 1; i >= 0; --i) {
            const auto attr = xcbReply(connection_, xcb_get_window_attributes_reply, attributes[i]);
            const auto geo = xcbReply(connection_, xcb_get_geometry_reply, geometries[i]);
            if (found || !attr || !geo) {
                continue; // every reply is still collected, so none is left queued
            }
            if (attr->map_state != XCB_MAP_STATE_VIEWABLE ||
                attr->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
                continue;
            }
            // A child's position is that of its border's outer corner.
            const int border = geo->border_width;
            const QRect outer(geo->x, geo->y, geo->width + 2 * border, geo->height + 2 * border);
            if (outer.contains(local)) {
                found = children[i];
                foundLocal = local - QPoint(geo->x + border, geo->y + border);
            }
        }
        if (!found) {
            break;
        }
        current = found;
        local = foundLocal;
    }
    return current;
}

WindowId X11Desktop::parentInTree(WindowId window, WindowId* root) {
    if (!connection_ || window == 0) {
        return 0;
    }
    const auto tree =
        xcbReply(connection_, xcb_query_tree_reply, xcb_query_tree(connection_, window));
    if (!tree) {
        return 0;
    }
    if (root) {
        *root = tree->root;
    }
    return tree->parent;
}

// The client a window manager's frame holds: the shallowest descendant with WM_STATE (the
// topmost of its level when several have it). Each level below the frame costs one round
// trip: the WM_STATE and the children of all its windows are asked for together. A frame
// holds dozens of decoration windows, so asking window by window would cost dozens.
WindowId X11Desktop::clientBelow(WindowId window) {
    QList<WindowId> level = childrenOf(window);
    for (int depth = 0; depth < kMaxDepth && !level.isEmpty(); ++depth) {
        QList<xcb_get_property_cookie_t> states;
        QList<xcb_query_tree_cookie_t> trees;
        states.reserve(level.size());
        trees.reserve(level.size());
        for (const WindowId w : level) {
            states << xcb_get_property(connection_, 0, w, atomWmState_, XCB_GET_PROPERTY_TYPE_ANY,
                                       0, 0);
            trees << xcb_query_tree(connection_, w);
        }
        WindowId client = 0;
        QList<WindowId> next;
        for (qsizetype i = level.size() - 1; i >= 0; --i) {
            const auto state = xcbReply(connection_, xcb_get_property_reply, states[i]);
            const auto tree = xcbReply(connection_, xcb_query_tree_reply, trees[i]);
            if (client == 0 && state && state->type != XCB_NONE) {
                client = level[i];
            }
            if (tree) {
                const xcb_window_t* children = xcb_query_tree_children(tree.get());
                next.append(QList<WindowId>(children,
                                            children + xcb_query_tree_children_length(tree.get())));
            }
        }
        if (client) {
            return client;
        }
        level = std::move(next);
    }
    return 0;
}

// The window whose name and class a window gives: its client's for a frame or decoration
// window of the window manager, its own for every other.
WindowId X11Desktop::answeringWindow(WindowId window) {
    if (!connection_ || window == 0 || window == root_) {
        return window;
    }
    // Walk up to the top-level window that holds this one, remembering the way.
    QList<WindowId> path{window};
    WindowId current = window;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        WindowId root = 0;
        const WindowId parent = parentInTree(current, &root);
        if (parent == 0) {
            return window; // gone: it answers for itself, which is emptiness
        }
        if (parent == root) {
            break;
        }
        current = parent;
        path << current;
    }
    const WindowId topLevel = current;
    if (hasWmState(topLevel)) {
        return window; // a client without a frame: everything in it is its own
    }
    const WindowId client = clientBelow(topLevel);
    if (client == 0 || path.contains(client)) {
        return window; // no client, or the window is the client or inside it
    }
    return client; // a frame or a decoration window of the window manager
}

WindowId X11Desktop::parentOf(WindowId window) {
    if (!connection_ || window == 0) {
        return 0;
    }
    WindowId root = 0;
    const WindowId parent = parentInTree(window, &root);
    if (parent == 0) {
        return 0;
    }
    if (parent != root) {
        return parent;
    }
    // A top-level window: its owner is named by the client it is or holds.
    const WindowId client = hasWmState(window) ? window : clientBelow(window);
    if (client == 0) {
        return 0;
    }
    const QByteArray owner = property(client, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW);
    if (owner.size() < static_cast<qsizetype>(sizeof(WindowId))) {
        return 0;
    }
    WindowId result = 0;
    std::memcpy(&result, owner.constData(), sizeof result);
    return result == root ? 0 : result;
}

QRect X11Desktop::windowRect(WindowId window) {
    if (!connection_ || window == 0) {
        return {};
    }
    // Both questions in one round trip.
    const xcb_get_geometry_cookie_t geoCookie = xcb_get_geometry(connection_, window);
    const xcb_translate_coordinates_cookie_t whereCookie =
        xcb_translate_coordinates(connection_, window, root_, 0, 0);
    const auto geo = xcbReply(connection_, xcb_get_geometry_reply, geoCookie);
    const auto where = xcbReply(connection_, xcb_translate_coordinates_reply, whereCookie);
    if (!geo || !where) {
        return {};
    }
    // The translation gives the inside's corner; the border lies around it.
    const int border = geo->border_width;
    return QRect(where->dst_x - border, where->dst_y - border, geo->width + 2 * border,
                 geo->height + 2 * border);
}

QList<WindowId> X11Desktop::children(WindowId window) {
    QList<WindowId> result = childrenOf(window);
    std::reverse(result.begin(), result.end());
    return result;
}

} // namespace morvane
