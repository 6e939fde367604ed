#pragma once

#include "Desktop.h"
#include "KWinScript.h"

#include <memory>

namespace morvane {

// The desktop of a KDE Plasma Wayland session, as KWin tells it. Every request begins by
// asking for the pointer (pointerPosition), and that asks KWin once for the pointer and the
// windows of the current desktop; the request's later questions are answered from that
// snapshot, so a window is the same window from the first question to the grab.
//
// KWin's windows have no children: a window is a whole top-level window, its owner is
// the window it is transient for, and its rectangle is its frame. Window ids are the
// snapshot's own (1 for the topmost) and mean nothing after the next snapshot. Pixels come
// from KWin's screenshot interface.
class KWinDesktop final : public Desktop {
public:
    explicit KWinDesktop(std::unique_ptr<KWinScript> script);
    ~KWinDesktop() override;

    QPoint pointerPosition() override;
    WindowId windowAt(QPoint screenPoint) override;
    WindowId parentOf(WindowId window) override;
    QByteArray className(WindowId window) override;
    QByteArray windowText(WindowId window) override;
    QRect windowRect(WindowId window) override;
    std::uint32_t windowProcess(WindowId window) override;
    QList<WindowId> children(WindowId window) override;
    QSize screenSize() override;
    QRect primaryScreenRect() override;
    QImage grabScreen(const QRect& rect) override;
    QImage grabWindow(WindowId window, const QRect& rect) override;
    std::optional<PointerImage> pointerImage() override;
    QString grabFailure() const override {
        return grabFailure_.isEmpty() ? snapshotFailure_ : grabFailure_;
    }
    std::optional<QPoint> accessibleOrigin(WindowId window) override;

    // For tests: answer from this snapshot instead of asking KWin.
    void setSnapshot(const KWinSnapshot& snapshot) { snapshot_ = snapshot; }

private:
    const KWinWindow* find(WindowId window) const;

    std::unique_ptr<KWinScript> script_;
    KWinSnapshot snapshot_;
    QString snapshotFailure_;
    QString grabFailure_;
};

// A pointer drawn by the program: KWin's screenshots leave the pointer out (or, in a
// session without a real cursor plane, cannot draw it), and a Wayland client cannot read
// the pointer's image. The common arrow, its hotspot at its tip.
PointerImage drawnArrow();

} // namespace morvane
