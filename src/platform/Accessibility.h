#pragma once

#include "platform/Desktop.h"

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QString>
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace morvane {

// One element the accessibility bus reports: a control or a container drawn inside an
// application's window. Rectangles are in screen pixels.
struct AccessibleElement {
    QRect rect;
    QString name;
    QString text; // the element's text, for elements that have one (entries, labels)
    QString role; // the bus's role name, "push button", "entry", ...
    bool editable = false;
    QString document; // the address of the page a browser shows, where it tells it
};

// The element under a point and the elements holding it, the deepest first and the
// application's frame last. Only the deepest one carries name, text and role.
struct AccessibleHit {
    QList<AccessibleElement> chain;
};

// Asks the desktop's accessibility bus what lies at a point inside an X window. An answer
// is never awaited past the deadline: nothing (as for no bus at all) is answered then.
class AccessibleLookup {
public:
    virtual ~AccessibleLookup() = default;
    virtual std::optional<AccessibleHit> elementAt(WindowId window, QRect windowRect,
                                                   QPoint point) = 0;
};

// The path from a frame down to the deepest element holding the point: each step goes to
// the first child that is showing and whose non-empty rectangle holds it. Where that child
// holds nothing more, a later sibling that holds the point too is tried (Firefox puts the box
// of its address bar in the second of two sections of the same size); the first leaf stands
// when none leads further. The frame comes first. Tree gives Node, children(Node) ->
// std::optional<std::vector<Node>> and extents(Node) -> std::optional<QRect> (empty for an
// element not showing); nothing from either means the bus stopped answering, and then the
// whole look-up gives nothing.
template <typename Tree>
std::optional<std::vector<typename Tree::Node>> deepestAt(Tree& tree, typename Tree::Node frame,
                                                          QPoint point) {
    // Bounds the descent: a tree that loops back on itself must not hang a capture.
    constexpr int kMaxDepth = 64;
    constexpr int kMaxSiblingsTried = 8;
    using Nodes = std::vector<typename Tree::Node>;
    Nodes path{frame};
    std::optional<Nodes> leaf; // the first path that ended where nothing more held the point
    Nodes siblings;            // the children of the last step's parent
    int tried = 0;
    // The first of nodes from `from` on holding the point; nothing when the bus stopped.
    const auto firstHolding =
        [&](const Nodes& nodes,
            typename Nodes::const_iterator from) -> std::optional<typename Nodes::const_iterator> {
        for (auto node = from; node != nodes.end(); ++node) {
            const std::optional<QRect> extents = tree.extents(*node);
            if (!extents) {
                return std::nullopt;
            }
            if (!extents->isEmpty() && extents->contains(point)) {
                return node;
            }
        }
        return nodes.end();
    };
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        std::optional<Nodes> children = tree.children(path.back());
        if (!children) {
            return std::nullopt;
        }
        const auto child = firstHolding(*children, children->begin());
        if (!child) {
            return std::nullopt;
        }
        if (*child != children->end()) {
            path.push_back(**child);
            siblings = std::move(*children);
            continue;
        }
        if (!leaf) {
            leaf = path;
        }
        const auto at = std::find(siblings.begin(), siblings.end(), path.back());
        if (path.size() < 2 || at == siblings.end() || tried++ >= kMaxSiblingsTried) {
            break;
        }
        const auto next = firstHolding(siblings, std::next(at));
        if (!next) {
            return std::nullopt;
        }
        if (*next == siblings.end()) {
            break;
        }
        path.back() = **next;
    }
    return leaf && leaf->size() >= path.size() ? *leaf : path;
}

// How an application's rectangles lie on the screen. Most give screen rectangles; GTK 4 gives
// them relative to its own window, inside the margin its client-side decoration leaves (the
// window's decorationMargins): those are moved by the window's origin and that margin. The
// two are told apart by the application's frame, given as if on the screen: one relative to
// its window lies at 0,0 with the window's size less the margin (a pixel either way).
struct AccessiblePlacement {
    bool relative = false; // the rectangles are relative to the window
    QPoint offset;         // added to each of them
};
AccessiblePlacement placementOf(QRect frame, QRect window, QMargins decoration);

// Whether a toolkit gives its rectangles relative to the window whatever it is asked (GTK 4
// and later, which also warns on every question for screen ones): such an application is
// asked for window rectangles from its frames on.
bool givesWindowRelative(const QString& toolkit, const QString& version);

class AtspiBus;
class Budget;

// The look-up on the session's accessibility bus, spoken to directly (AtspiBus). The bus is
// joined at the first question, never before; without a D-Bus session every answer is
// nothing. Each look-up runs on the calling thread and ends by its deadline: every call on
// the bus is bounded by what is left of it, so no look-up outlives it or holds up the next.
class AtspiLookup final : public AccessibleLookup {
public:
    explicit AtspiLookup(Desktop& desktop,
                         std::chrono::milliseconds deadline = std::chrono::milliseconds(300));
    ~AtspiLookup() override;
    AtspiLookup(const AtspiLookup&) = delete;
    AtspiLookup& operator=(const AtspiLookup&) = delete;

    std::optional<AccessibleHit> elementAt(WindowId window, QRect windowRect,
                                           QPoint point) override;

private:
    bool join(const Budget& budget);

    Desktop& desktop_;
    std::chrono::milliseconds deadline_;
    bool unavailable_ = false;
    std::unique_ptr<AtspiBus> bus_;
};

// Turns the desktop's accessibility on (org.a11y.Status IsEnabled) for as long as the
// object lives, if it was off: toolkits expose their controls only while it is on. The
// question is asked without waiting; the old state is put back on destruction. That the
// program turned it on is also written down (a file in the user's runtime folder), so that
// after a crash the next start knows the switch is still its own to turn off.
class AccessibilitySwitch {
public:
    // marker: where that is written down; by default in $XDG_RUNTIME_DIR.
    explicit AccessibilitySwitch(QString marker = defaultMarker());
    static QString defaultMarker();
    // Whether the desktop's answer has come and been acted on.
    bool settled() const { return settled_; }
    ~AccessibilitySwitch();
    AccessibilitySwitch(const AccessibilitySwitch&) = delete;
    AccessibilitySwitch& operator=(const AccessibilitySwitch&) = delete;

private:
    void setEnabled(bool on);

    QString marker_;
    bool turnedOn_ = false;
    bool settled_ = false;
    std::shared_ptr<bool> alive_;
};

} // namespace morvane
