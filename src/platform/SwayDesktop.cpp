#include "SwayDesktop.h"

#include "KWinDesktop.h"
#include "SwayScreenCopy.h"
#include "WindowText.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace morvane {

SwayDesktop::SwayDesktop(std::unique_ptr<SwayIpc> ipc) : ipc_(std::move(ipc)) {}

SwayDesktop::~SwayDesktop() = default;

const SwayWindow* SwayDesktop::find(WindowId window) const {
    if (window == 0 || window > WindowId(snapshot_.windows.size())) {
        return nullptr;
    }
    return &snapshot_.windows[qsizetype(window) - 1];
}

void SwayDesktop::setSnapshot(const SwaySnapshot& snapshot) {
    snapshot_ = snapshot;
    pointerWindow_ = 0;
    for (qsizetype i = 0; i < snapshot_.windows.size(); ++i) {
        if (snapshot_.windows[i].focused) {
            pointerWindow_ = WindowId(i + 1);
        }
    }
    if (const SwayWindow* focused = find(pointerWindow_)) {
        pointer_ = focused->frame.center();
    } else if (!snapshot_.outputs.isEmpty()) {
        pointer_ = snapshot_.outputs.first().rect.center();
    } else {
        pointer_ = {};
    }
}

QPoint SwayDesktop::pointerPosition() {
    snapshotFailure_.clear();
    grabFailure_.clear();
    if (!ipc_) {
        return pointer_;
    }
    if (std::optional<SwaySnapshot> fresh = ipc_->snapshot()) {
        setSnapshot(*fresh);
    } else {
        // Windows of an old snapshot may be gone or moved: none are named, and the grab of a
        // window says why it failed.
        snapshot_.windows.clear();
        pointerWindow_ = 0;
        snapshotFailure_ = ipc_->failure();
    }
    return pointer_;
}

WindowId SwayDesktop::windowAt(QPoint screenPoint) {
    // The pointer taken to be over the focused window is over it, whatever floats above its
    // centre.
    if (screenPoint == pointer_ && pointerWindow_ != 0) {
        return pointerWindow_;
    }
    for (qsizetype i = 0; i < snapshot_.windows.size(); ++i) {
        if (snapshot_.windows[i].frame.contains(screenPoint)) {
            return WindowId(i + 1);
        }
    }
    return 0;
}

WindowId SwayDesktop::parentOf(WindowId window) {
    const SwayWindow* w = find(window);
    if (!w || w->owner == 0) {
        return 0;
    }
    for (qsizetype i = 0; i < snapshot_.windows.size(); ++i) {
        if (snapshot_.windows[i].id == w->owner) {
            return WindowId(i + 1);
        }
    }
    return 0; // the owner is on a workspace not shown
}

QByteArray SwayDesktop::className(WindowId window) {
    const SwayWindow* w = find(window);
    return w ? w->appClass : QByteArray();
}

QByteArray SwayDesktop::windowText(WindowId window) {
    const SwayWindow* w = find(window);
    return w ? limitUtf8(w->name.toUtf8()) : QByteArray();
}

QRect SwayDesktop::windowRect(WindowId window) {
    if (window == 0) {
        // Over no window, as over the root on X11: the whole workspace; unless sway did not
        // say which windows there are, and then nothing, so the request says why.
        return snapshotFailure_.isEmpty() ? QRect(QPoint(0, 0), screenSize()) : QRect();
    }
    const SwayWindow* w = find(window);
    return w ? w->frame : QRect();
}

std::uint32_t SwayDesktop::windowProcess(WindowId window) {
    const SwayWindow* w = find(window);
    return w ? w->pid : 0;
}

QList<WindowId> SwayDesktop::children(WindowId) {
    return {};
}

QSize SwayDesktop::screenSize() {
    QRect all;
    for (const SwayOutput& output : snapshot_.outputs) {
        all = all.united(output.rect);
    }
    if (all.isEmpty()) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            all = all.united(screen->geometry());
        }
    }
    return QSize(all.right() + 1, all.bottom() + 1).expandedTo(QSize(0, 0));
}

QRect SwayDesktop::primaryScreenRect() {
    // sway has no primary output; Qt's primary screen is the first output it was told of.
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect(QPoint(0, 0), screenSize());
}

QImage SwayDesktop::grabScreen(const QRect& rect) {
    grabFailure_.clear();
    if (rect.isEmpty()) {
        return {};
    }
    if (snapshot_.outputs.isEmpty() && ipc_) {
        if (std::optional<SwaySnapshot> fresh = ipc_->snapshot()) {
            setSnapshot(*fresh);
        }
    }
    if (!pixels_) {
        QString whyNot;
        pixels_ = SwayScreenCopy::open(&whyNot);
        if (!pixels_) {
            grabFailure_ = QStringLiteral("sway 不提供屏幕像素（%1）").arg(whyNot);
            return {};
        }
    }
    QImage image(rect.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    bool any = false;
    for (const SwayOutput& output : snapshot_.outputs) {
        const QRect part = rect.intersected(output.rect);
        if (part.isEmpty()) {
            continue;
        }
        const QImage pixels =
            pixels_->capture(output.name, part.translated(-output.rect.topLeft()));
        if (pixels.isNull()) {
            grabFailure_ = pixels_->failure();
            return {};
        }
        painter.drawImage(part.topLeft() - rect.topLeft(), pixels);
        any = true;
    }
    painter.end();
    if (!any) {
        // Outside every output: black, as on every desktop, unless sway named none.
        if (snapshot_.outputs.isEmpty()) {
            grabFailure_ = snapshotFailure_;
            return {};
        }
    }
    return image;
}

QImage SwayDesktop::grabWindow(WindowId window, const QRect& rect) {
    grabFailure_.clear();
    if (!find(window)) {
        grabFailure_ = snapshotFailure_;
        return {};
    }
    return grabScreen(rect);
}

std::optional<PointerImage> SwayDesktop::pointerImage() {
    return drawnArrow();
}

std::optional<QPoint> SwayDesktop::accessibleOrigin(WindowId window) {
    const SwayWindow* w = find(window);
    return w ? std::optional<QPoint>(w->surface) : std::nullopt;
}

} // namespace morvane
