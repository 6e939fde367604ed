#pragma once

#include "Desktop.h"
#include "SwayIpc.h"

#include <memory>

namespace morvane {

class SwayScreenCopy;

// The desktop of a sway session, as sway's IPC tells it. Every request begins by asking for
// the pointer (pointerPosition), and that asks sway once for its tree; the request's later
// questions are answered from that snapshot, so a window is the same window from the first
// question to the grab.
//
// Where the pointer is: nothing in sway tells a client. The IPC's tree and seats leave it out
// (sway 1.7), and a Wayland client learns the pointer's place only over a surface of its
// own. But sway focuses the window under the pointer as the pointer moves onto it
// (focus_follows_mouse, on by default), so the window under the pointer is taken to be the
// focused window and the pointer to be at its centre; with no window focused, at the centre
// of the first output. A user who turns focus_follows_mouse off gets the focused window.
//
// sway's windows have no children: a window is a whole top-level window (a view), its owner
// the window it is transient for where sway says (X clients only), and its rectangle the
// container with sway's border and title bar. Window ids are the snapshot's own (1 for the
// topmost) and mean nothing after the next snapshot. Pixels come from the screencopy
// protocol, so a window's grab is what the screen shows inside its rectangle.
class SwayDesktop final : public Desktop {
public:
    explicit SwayDesktop(std::unique_ptr<SwayIpc> ipc);
    ~SwayDesktop() override;

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

    // For tests: answer from this snapshot instead of asking sway.
    void setSnapshot(const SwaySnapshot& snapshot);

private:
    const SwayWindow* find(WindowId window) const;

    std::unique_ptr<SwayIpc> ipc_;
    std::unique_ptr<SwayScreenCopy> pixels_;
    SwaySnapshot snapshot_;
    QPoint pointer_;
    WindowId pointerWindow_ = 0; // the focused window, taken to be under the pointer
    QString snapshotFailure_;
    QString grabFailure_;
};

} // namespace morvane
