#include "CaptionButtons.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>
#include <QWindow>

namespace morvane {

namespace {

bool isMouseEvent(QEvent::Type type) {
    return type == QEvent::MouseMove || type == QEvent::MouseButtonPress ||
           type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick;
}

} // namespace

CaptionButtons::CaptionButtons(QWidget& window, const CaptionParts& parts)
    : QObject(&window), window_(window), parts_(parts) {
    show(parts_.minimisePlain, parts_.closePlain);
    window_.setMouseTracking(true);
    for (QLabel* control : {parts_.strip, parts_.minimise, parts_.close}) {
        control->setMouseTracking(true);
    }
    window_.installEventFilter(this);
    for (QLabel* control :
         {parts_.strip, parts_.icon, parts_.title, parts_.minimise, parts_.close}) {
        control->installEventFilter(this);
    }
}

void CaptionButtons::show(const QPixmap* minimise, const QPixmap* close) {
    if (minimise) {
        parts_.minimise->setPixmap(*minimise);
    }
    if (close) {
        parts_.close->setPixmap(*close);
    }
}

bool CaptionButtons::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_) {
        return windowEvent(event);
    }
    if (watched == window_.windowHandle()) {
        return nativeWindowEvent(event);
    }
    const QEvent::Type type = event->type();
    if (!isMouseEvent(type)) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool left = mouse->button() == Qt::LeftButton;
    if (type == QEvent::MouseMove) {
        if (watched == parts_.strip) {
            show(parts_.minimisePlain, parts_.closePlain);
        } else if (watched == parts_.minimise) {
            show(parts_.minimiseLit, parts_.closePlain);
        } else if (watched == parts_.close) {
            show(parts_.minimisePlain, parts_.closeLit);
        }
    } else if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        if (watched == parts_.minimise && left) {
            show(parts_.minimisePlain, nullptr);
        } else if (watched == parts_.close && left) {
            show(nullptr, parts_.closePlain);
        } else if (watched != parts_.minimise && watched != parts_.close) {
            drag(mouse->button());
        }
    } else if (watched == parts_.minimise && left) {
        // The control that took the press gets the release, wherever the pointer is now.
        show(parts_.minimisePlain, parts_.closePlain);
        window_.showMinimized();
    } else if (watched == parts_.close && left) {
        window_.close();
    }
    return true;
}

bool CaptionButtons::windowEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !window_.isEnabled() && window_.windowHandle()) {
        // The native window's mouse events come before the disabled widgets drop them.
        window_.windowHandle()->installEventFilter(this);
    } else if (event->type() == QEvent::MouseMove) {
        // Moves over other controls reach the window too; only the bare background counts.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!window_.childAt(mouse->position().toPoint())) {
            show(parts_.minimisePlain, parts_.closePlain);
        }
    }
    return false;
}

bool CaptionButtons::nativeWindowEvent(QEvent* event) {
    if (window_.isEnabled() || event->type() != QEvent::MouseButtonRelease) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton &&
        parts_.close->geometry().contains(mouse->position().toPoint())) {
        window_.close();
        return true;
    }
    return false;
}

void CaptionButtons::drag(Qt::MouseButton button) {
    // Only a window in its normal state moves, and only with the left button.
    if (button != Qt::LeftButton ||
        (window_.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
        return;
    }
    if (QWindow* window = window_.windowHandle()) {
        window->startSystemMove();
    }
}

} // namespace morvane
