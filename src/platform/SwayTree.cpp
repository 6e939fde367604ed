// Reading sway's answers: the tree of outputs, workspaces and windows, and command results.
#include "SwayIpc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>

namespace morvane {

namespace {

constexpr qsizetype kMaxText = 4096;
constexpr qsizetype kMaxWindows = 512;
constexpr int kMaxDepth = 64;

QRect rectOf(const QJsonValue& value) {
    const QJsonObject r = value.toObject();
    return QRect(r.value(QLatin1String("x")).toInt(), r.value(QLatin1String("y")).toInt(),
                 r.value(QLatin1String("width")).toInt(), r.value(QLatin1String("height")).toInt());
}

QString textOf(const QJsonValue& value) {
    return value.toString().left(kMaxText);
}

struct Reader {
    SwaySnapshot snapshot;
    QList<SwayWindow> fullscreen;
    QList<SwayWindow> floating; // in sway's order: the last one raised last
    QList<SwayWindow> tiled;
    std::map<std::int64_t, std::int64_t> containerOfX; // an X window's id, its container
    std::map<std::int64_t, std::int64_t> ownerX;       // container, the X window it serves

    qsizetype count() const { return fullscreen.size() + floating.size() + tiled.size(); }

    // A view: a container that holds an application's surface.
    void readView(const QJsonObject& node, bool floats) {
        const QRect rect = rectOf(node.value(QLatin1String("rect")));
        if (!node.value(QLatin1String("visible")).toBool() || rect.isEmpty() ||
            count() >= kMaxWindows) {
            return;
        }
        SwayWindow window;
        window.id = node.value(QLatin1String("id")).toInteger();
        window.name = textOf(node.value(QLatin1String("name")));
        const QJsonObject x11 = node.value(QLatin1String("window_properties")).toObject();
        const QJsonValue appId = node.value(QLatin1String("app_id"));
        window.appClass = (appId.isString() ? appId : x11.value(QLatin1String("class")))
                              .toString()
                              .left(kMaxText)
                              .toUtf8();
        const qint64 pid = node.value(QLatin1String("pid")).toInteger();
        window.pid = pid > 0 && pid <= 0x7fffffff ? std::uint32_t(pid) : 0;
        // sway's rect leaves out the title bar, which deco_rect measures above it.
        const int title = std::max(0, rectOf(node.value(QLatin1String("deco_rect"))).height());
        window.frame = rect.adjusted(0, -title, 0, 0);
        // The surface sits inside the border (window_rect, relative to rect), moved back by
        // the margin a client-side decoration leaves around the window's geometry.
        const QRect content = rectOf(node.value(QLatin1String("window_rect")));
        const QRect geometry = rectOf(node.value(QLatin1String("geometry")));
        window.surface = rect.topLeft() + content.topLeft() - geometry.topLeft();
        window.focused = node.value(QLatin1String("focused")).toBool();
        window.floating = floats;
        const std::int64_t xWindow = node.value(QLatin1String("window")).toInteger();
        if (xWindow > 0) {
            containerOfX[xWindow] = window.id;
        }
        const std::int64_t owner = x11.value(QLatin1String("transient_for")).toInteger();
        if (owner > 0) {
            ownerX[window.id] = owner;
        }
        if (node.value(QLatin1String("fullscreen_mode")).toInt() != 0) {
            fullscreen.append(window);
        } else {
            (floats ? floating : tiled).append(window);
        }
    }

    void readContainer(const QJsonObject& node, bool floats, int depth) {
        if (depth > kMaxDepth) {
            return;
        }
        const QJsonArray nodes = node.value(QLatin1String("nodes")).toArray();
        const QJsonArray floatingNodes = node.value(QLatin1String("floating_nodes")).toArray();
        if (node.contains(QLatin1String("shell")) || node.contains(QLatin1String("app_id"))) {
            readView(node, floats);
            return;
        }
        for (const auto& child : nodes) {
            readContainer(child.toObject(), floats, depth + 1);
        }
        for (const auto& child : floatingNodes) {
            readContainer(child.toObject(), true, depth + 1);
        }
    }

    void readOutput(const QJsonObject& output) {
        const QString name = textOf(output.value(QLatin1String("name")));
        if (name.startsWith(QLatin1String("__"))) {
            return; // the scratchpad's holder
        }
        snapshot.outputs.append({name, rectOf(output.value(QLatin1String("rect")))});
        const QString shown = output.value(QLatin1String("current_workspace")).toString();
        for (const auto& workspace : output.value(QLatin1String("nodes")).toArray()) {
            const QJsonObject object = workspace.toObject();
            if (object.value(QLatin1String("name")).toString() == shown) {
                readContainer(object, false, 0);
            }
        }
    }
};

} // namespace

std::optional<SwaySnapshot> parseSwayTree(const QByteArray& json) {
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    if (root.value(QLatin1String("type")).toString() != QLatin1String("root") ||
        !root.value(QLatin1String("nodes")).isArray()) {
        return std::nullopt;
    }
    Reader reader;
    for (const auto& output : root.value(QLatin1String("nodes")).toArray()) {
        reader.readOutput(output.toObject());
    }
    SwaySnapshot& snapshot = reader.snapshot;
    snapshot.windows = reader.fullscreen;
    for (auto it = reader.floating.crbegin(); it != reader.floating.crend(); ++it) {
        snapshot.windows.append(*it);
    }
    snapshot.windows.append(reader.tiled);
    for (SwayWindow& window : snapshot.windows) {
        const auto owner = reader.ownerX.find(window.id);
        if (owner != reader.ownerX.end()) {
            const auto container = reader.containerOfX.find(owner->second);
            window.owner = container != reader.containerOfX.end() ? container->second : 0;
        }
    }
    return std::move(reader.snapshot);
}

} // namespace morvane
