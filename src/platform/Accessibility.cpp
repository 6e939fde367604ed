#include "Accessibility.h"

#include "AtspiBus.h"
#include "common/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <algorithm>
#include <cstdlib>

namespace morvane {

namespace {

// One application's elements as the descent sees them. The rectangles of an element's
// children are asked in small batches, all of a batch at once: the descent usually stops
// at one of the first few, and a list of thousands costs no more than it must.
class BusTree {
public:
    using Node = AtspiRef;

    BusTree(AtspiBus& bus, const Budget& budget) : bus_(bus), budget_(budget) {}

    // From here on, rectangles are asked relative to the window and moved by the offset.
    void placeRelative(QPoint offset) {
        coords_ = AtspiBus::Coords::Window;
        offset_ = offset;
        known_.clear();
    }

    std::optional<std::vector<Node>> children(const Node& node) {
        std::optional<std::vector<Node>> result = bus_.children(node, budget_);
        if (result) {
            level_ = *result;
        }
        return result;
    }

    std::optional<QRect> extents(const Node& node) {
        if (const auto known = std::find_if(known_.begin(), known_.end(),
                                            [&](const auto& entry) { return entry.first == node; });
            known != known_.end()) {
            return known->second;
        }
        constexpr std::ptrdiff_t kBatch = 32;
        auto first = std::find(level_.begin(), level_.end(), node);
        std::vector<Node> batch;
        if (first == level_.end()) {
            batch.push_back(node);
        } else {
            batch.assign(first, first + std::min(kBatch, level_.end() - first));
        }
        const std::optional<std::vector<QRect>> rects = bus_.extents(batch, budget_, coords_);
        if (!rects) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < batch.size(); ++i) {
            const QRect rect = (*rects)[i];
            known_.emplace_back(batch[i], rect.isEmpty() ? rect : rect.translated(offset_));
        }
        return known_[known_.size() - batch.size()].second;
    }

private:
    AtspiBus& bus_;
    const Budget& budget_;
    std::vector<Node> level_;
    std::vector<std::pair<Node, QRect>> known_;
    AtspiBus::Coords coords_ = AtspiBus::Coords::Screen;
    QPoint offset_;
};

// The look-up itself: the application of the process, its frame over the window, and the
// descent from there.
std::optional<AccessibleHit> lookUp(AtspiBus& bus, std::uint32_t pid, QRect windowRect,
                                    QMargins decoration, std::optional<QPoint> origin, QPoint point,
                                    const Budget& budget) {
    // The application is the one whose connection belongs to the window's process; the bus
    // itself answers that, so no other application is ever asked anything.
    const std::vector<AtspiRef> applications =
        bus.applications(budget).value_or(std::vector<AtspiRef>{});
    const std::vector<std::uint32_t> pids = bus.processes(applications, budget);
    const auto mine = std::find(pids.begin(), pids.end(), pid);
    if (mine == pids.end()) {
        qCInfo(lcMorvane) << "accessibility look-up: no application on the bus for process" << pid
                          << (budget.spent() ? "(out of time)" : "");
        return std::nullopt;
    }
    const AtspiRef application = applications[std::size_t(mine - pids.begin())];
    BusTree tree(bus, budget);
    const AtspiToolkit toolkit = bus.toolkit(application, budget);
    // Where the desktop knows the origin the toolkit counts from, every toolkit is placed
    // by it; on X11 only those that give window rectangles are.
    const bool relative = origin || givesWindowRelative(toolkit.name, toolkit.version);
    if (relative) {
        tree.placeRelative(
            origin ? *origin : windowRect.topLeft() + QPoint(decoration.left(), decoration.top()));
    }

    // Of its frames, the one that covers most of the X window under the point.
    std::optional<AtspiRef> frame;
    QRect frameRect;
    AccessiblePlacement placement;
    qint64 best = 0;
    for (const AtspiRef& candidate : tree.children(application).value_or(std::vector<AtspiRef>{})) {
        const std::optional<QRect> given = tree.extents(candidate);
        if (!given) {
            break;
        }
        const AccessiblePlacement placed =
            relative ? AccessiblePlacement{} : placementOf(*given, windowRect, decoration);
        const QRect rect = given->translated(placed.offset);
        const QRect common = rect.intersected(windowRect);
        const qint64 area = qint64(common.width()) * common.height();
        if (rect.contains(point) && area > best) {
            best = area;
            frame = candidate;
            frameRect = rect;
            placement = placed;
        }
    }
    if (!frame) {
        qCInfo(lcMorvane) << "accessibility look-up: no frame of process" << pid << "at" << point
                          << (budget.spent() ? "(out of time)" : "");
        return std::nullopt;
    }
    if (placement.relative) {
        tree.placeRelative(placement.offset);
    }
    const auto path = deepestAt(tree, *frame, point);
    if (!path || path->size() < 2) {
        qCInfo(lcMorvane) << "accessibility look-up: nothing inside the frame at" << point
                          << (path ? "" : "(out of time)");
        return std::nullopt;
    }
    AccessibleHit hit;
    for (auto node = path->rbegin(); node != path->rend(); ++node) {
        const QRect rect = *node == *frame ? frameRect : tree.extents(*node).value_or(QRect());
        if (hit.chain.isEmpty()) {
            const AtspiDescription description = bus.describe(*node, budget);
            hit.chain.append(
                AccessibleElement{.rect = rect,
                                  .name = description.name,
                                  .text = description.text,
                                  .role = description.roleName,
                                  .editable = description.editable && !description.password});
        } else {
            // A container is named by its name alone.
            hit.chain.append(AccessibleElement{.rect = rect, .name = bus.name(*node, budget)});
        }
    }
    if (hit.chain.first().editable) {
        hit.chain.first().document = bus.pageAddress(*frame, budget);
    }
    if (budget.spent()) {
        qCInfo(lcMorvane) << "accessibility look-up: out of time describing the element";
        return std::nullopt;
    }
    return hit;
}

} // namespace

AccessiblePlacement placementOf(QRect frame, QRect window, QMargins decoration) {
    const QSize inner = window.size().shrunkBy(decoration);
    const QPoint origin = window.topLeft() + QPoint(decoration.left(), decoration.top());
    // A window at the screen's origin gives the same rectangles either way.
    const bool atOrigin = frame.topLeft() == QPoint(0, 0);
    const bool sized = std::abs(frame.width() - inner.width()) <= 1 &&
                       std::abs(frame.height() - inner.height()) <= 1;
    if (atOrigin && sized) {
        return {true, origin};
    }
    return {};
}

bool givesWindowRelative(const QString& toolkit, const QString& version) {
    return toolkit.compare(QLatin1String("GTK"), Qt::CaseInsensitive) == 0 &&
           version.section(QLatin1Char('.'), 0, 0).toInt() >= 4;
}

AtspiLookup::AtspiLookup(Desktop& desktop, std::chrono::milliseconds deadline)
    : desktop_(desktop), deadline_(deadline) {}

AtspiLookup::~AtspiLookup() = default;

bool AtspiLookup::join(const Budget& budget) {
    if (bus_ && bus_->connected()) {
        return true;
    }
    bus_.reset(); // a bus that went away is joined again
    if (unavailable_) {
        return false;
    }
    // The address comes from the environment or from the session bus, never from anything an
    // application publishes (such as a property on the X root window).
    QByteArray address = qgetenv("AT_SPI_BUS_ADDRESS");
    if (address.isEmpty()) {
        QDBusConnection session = QDBusConnection::sessionBus();
        if (!session.isConnected()) {
            qCInfo(lcMorvane) << "no D-Bus session: controls are found through X11 only";
            unavailable_ = true;
            return false;
        }
        const QDBusMessage reply =
            session.call(QDBusMessage::createMethodCall(
                             QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                             QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                         QDBus::Block, std::max(1, budget.leftMs()));
        address = reply.arguments().isEmpty() ? QByteArray()
                                              : reply.arguments().first().toString().toUtf8();
        if (reply.type() != QDBusMessage::ReplyMessage || address.isEmpty()) {
            qCInfo(lcMorvane) << "no accessibility bus: controls are found through X11 only"
                              << reply.errorMessage();
            unavailable_ = true;
            return false;
        }
    }
    std::optional<AtspiBus> bus = AtspiBus::connect(address, budget);
    if (!bus) {
        unavailable_ = !isLocalSocketAddress(address);
        return false;
    }
    bus_ = std::make_unique<AtspiBus>(std::move(*bus));
    return true;
}

std::optional<AccessibleHit> AtspiLookup::elementAt(WindowId window, QRect windowRect,
                                                    QPoint point) {
    const Budget budget(deadline_);
    const std::uint32_t pid = desktop_.windowProcess(window);
    if (pid == 0) {
        qCInfo(lcMorvane) << "accessibility look-up: window" << window << "names no process";
        return std::nullopt;
    }
    if (!join(budget)) {
        return std::nullopt;
    }
    std::optional<AccessibleHit> hit =
        lookUp(*bus_, pid, windowRect, desktop_.decorationMargins(window),
               desktop_.accessibleOrigin(window), point, budget);
    bus_->discardIncoming();
    return hit;
}

} // namespace morvane
