#include "MemoryDesktop.h"

#include <QPainter>
#include <algorithm>

namespace morvane {

MemoryDesktop::MemoryDesktop(QSize screen) : framebuffer_(screen, QImage::Format_RGB32) {
    framebuffer_.fill(0xff000000);
}

WindowId MemoryDesktop::add(const Window& window, QRgb colour) {
    const WindowId id = nextId_++;
    windows_[id] = window;
    if (colour != 0) {
        QPainter(&framebuffer_).fillRect(window.rect, QColor::fromRgb(colour));
    }
    return id;
}

void MemoryDesktop::remove(WindowId window) {
    windows_.erase(window);
}

const MemoryDesktop::Window* MemoryDesktop::find(WindowId window) const {
    const auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

QList<WindowId> MemoryDesktop::childrenOf(WindowId parent) const {
    QList<WindowId> children;
    for (const auto& [id, window] : windows_) {
        if (window.parent == (parent == kRoot ? 0 : parent)) {
            children << id;
        }
    }
    return children;
}

WindowId MemoryDesktop::windowAt(QPoint screenPoint) {
    WindowId current = kRoot;
    for (bool descended = true; descended;) {
        descended = false;
        const QList<WindowId> children = childrenOf(current);
        for (auto it = children.crbegin(); it != children.crend(); ++it) {
            const Window& child = windows_.at(*it);
            if (child.viewable && !child.inputOnly && child.rect.contains(screenPoint)) {
                current = *it;
                descended = true;
                break;
            }
        }
    }
    return current;
}

WindowId MemoryDesktop::parentOf(WindowId window) {
    const Window* w = find(window);
    if (!w) {
        return 0;
    }
    if (w->parent != 0) {
        return w->parent;
    }
    return find(w->transientFor) ? w->transientFor : 0;
}

std::uint32_t MemoryDesktop::windowProcess(WindowId window) {
    for (const Window* w = find(window); w; w = find(w->parent)) {
        if (w->process != 0) {
            return w->process;
        }
    }
    return 0;
}

QByteArray MemoryDesktop::className(WindowId window) {
    const Window* w = find(window);
    return w ? w->className : QByteArray();
}

QByteArray MemoryDesktop::windowText(WindowId window) {
    const Window* w = find(window);
    return w ? w->title : QByteArray();
}

QRect MemoryDesktop::windowRect(WindowId window) {
    if (window == kRoot) {
        return framebuffer_.rect();
    }
    const Window* w = find(window);
    return w ? w->rect : QRect();
}

QList<WindowId> MemoryDesktop::children(WindowId window) {
    QList<WindowId> result = childrenOf(window);
    std::reverse(result.begin(), result.end()); // later siblings lie above
    return result;
}

QImage MemoryDesktop::grabScreen(const QRect& rect) {
    if (rect.isEmpty()) {
        return {};
    }
    QImage result(rect.size(), QImage::Format_RGB32);
    result.fill(0xff000000);
    const QRect inside = rect.intersected(framebuffer_.rect());
    if (!inside.isEmpty()) {
        QPainter(&result).drawImage(inside.topLeft() - rect.topLeft(), framebuffer_, inside);
    }
    return result;
}

std::optional<PointerImage> MemoryDesktop::pointerImage() {
    ++pointerImageRequests_;
    return pointerImage_;
}

} // namespace morvane
