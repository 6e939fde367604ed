#include "KWinDesktop.h"

#include "KWinScreenShot.h"
#include "WindowText.h"
#include "common/Log.h"

#include <QGuiApplication>
#include <QScreen>

namespace morvane {

namespace {

// KWin answers within tens of milliseconds; a compositor that does not answer must not hold
// a capture for long.
constexpr std::chrono::milliseconds kSnapshotDeadline{1500};

} // namespace

KWinDesktop::KWinDesktop(std::unique_ptr<KWinScript> script) : script_(std::move(script)) {}

KWinDesktop::~KWinDesktop() = default;

const KWinWindow* KWinDesktop::find(WindowId window) const {
    if (window == 0 || window > WindowId(snapshot_.windows.size())) {
        return nullptr;
    }
    return &snapshot_.windows[qsizetype(window) - 1];
}

QPoint KWinDesktop::pointerPosition() {
    snapshotFailure_.clear();
    grabFailure_.clear();
    if (!script_) {
        return snapshot_.pointer;
    }
    if (std::optional<KWinSnapshot> fresh = script_->snapshot(kSnapshotDeadline)) {
        snapshot_ = std::move(*fresh);
    } else {
        // Windows of an old snapshot may be gone or moved: none are named, and the grab of
        // a window says why it failed.
        snapshot_.windows.clear();
        snapshotFailure_ = script_->failure();
    }
    return snapshot_.pointer;
}

WindowId KWinDesktop::windowAt(QPoint screenPoint) {
    for (qsizetype i = 0; i < snapshot_.windows.size(); ++i) {
        if (snapshot_.windows[i].frame.contains(screenPoint)) {
            return WindowId(i + 1);
        }
    }
    return 0;
}

WindowId KWinDesktop::parentOf(WindowId window) {
    const KWinWindow* w = find(window);
    if (!w || w->transientFor.isEmpty()) {
        return 0;
    }
    for (qsizetype i = 0; i < snapshot_.windows.size(); ++i) {
        if (snapshot_.windows[i].id == w->transientFor) {
            return WindowId(i + 1);
        }
    }
    return 0; // the owner is minimised or on another desktop
}

QByteArray KWinDesktop::className(WindowId window) {
    const KWinWindow* w = find(window);
    return w ? w->resourceClass : QByteArray();
}

QByteArray KWinDesktop::windowText(WindowId window) {
    const KWinWindow* w = find(window);
    return w ? limitUtf8(w->caption.toUtf8()) : QByteArray();
}

QRect KWinDesktop::windowRect(WindowId window) {
    if (window == 0) {
        // Over no window, as over the root on X11: the whole workspace; unless KWin did not
        // say which windows there are, and then nothing, so the request says why.
        return snapshotFailure_.isEmpty() ? QRect(QPoint(0, 0), screenSize()) : QRect();
    }
    const KWinWindow* w = find(window);
    return w ? w->frame : QRect();
}

std::uint32_t KWinDesktop::windowProcess(WindowId window) {
    const KWinWindow* w = find(window);
    return w ? w->pid : 0;
}

QList<WindowId> KWinDesktop::children(WindowId) {
    return {};
}

QSize KWinDesktop::screenSize() {
    QRect all;
    for (const QScreen* screen : QGuiApplication::screens()) {
        all = all.united(screen->geometry());
    }
    return QSize(all.right() + 1, all.bottom() + 1).expandedTo(QSize(0, 0));
}

QRect KWinDesktop::primaryScreenRect() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry() : QRect(QPoint(0, 0), screenSize());
}

QImage KWinDesktop::grabScreen(const QRect& rect) {
    grabFailure_.clear();
    if (rect.isEmpty()) {
        return {};
    }
    KWinShot shot = kwinScreenShot::area(rect);
    grabFailure_ = shot.refusal;
    if (!shot.image.isNull() && shot.image.size() != rect.size()) {
        // A scaled output gives more pixels; the capture keeps the workspace's size.
        shot.image =
            shot.image.scaled(rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return shot.image;
}

QImage KWinDesktop::grabWindow(WindowId window, const QRect& rect) {
    grabFailure_.clear();
    const KWinWindow* w = find(window);
    if (!w) {
        grabFailure_ = snapshotFailure_;
        return {};
    }
    KWinShot shot = kwinScreenShot::window(w->id);
    grabFailure_ = shot.refusal;
    if (shot.image.isNull()) {
        return {};
    }
    if (shot.image.size() != w->frame.size()) {
        shot.image =
            shot.image.scaled(w->frame.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    // Only the part on the screen, as on every desktop.
    return shot.image.copy(rect.translated(-w->frame.topLeft()));
}

std::optional<PointerImage> KWinDesktop::pointerImage() {
    return drawnArrow();
}

std::optional<QPoint> KWinDesktop::accessibleOrigin(WindowId window) {
    const KWinWindow* w = find(window);
    if (!w) {
        return std::nullopt;
    }
    return w->buffer.isEmpty() ? w->frame.topLeft() : w->buffer.topLeft();
}

PointerImage drawnArrow() {
    // The classic arrow, pixel for pixel: '#' its black outline, '.' its white inside.
    static constexpr const char* kRows[] = {
        "#",         "##",        "#.#",        "#..#",        "#...#",     "#....#",   "#.....#",
        "#......#",  "#.......#", "#........#", "#.....#####", "#..#..#",   "#.# #..#", "##  #..#",
        "#    #..#", "     #..#", "      #..#", "      #..#",  "       ##",
    };
    QImage image(11, 19, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; kRows[y][x] != '\0'; ++x) {
            if (kRows[y][x] == '#') {
                image.setPixel(x, y, 0xff000000);
            } else if (kRows[y][x] == '.') {
                image.setPixel(x, y, 0xffffffff);
            }
        }
    }
    return {image, QPoint(0, 0)};
}

} // namespace morvane
