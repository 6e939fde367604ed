#pragma once

#include "capture/CaptureOutcome.h"
#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/Desktop.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <functional>
#include <optional>

namespace morvane {

// Said once a run after the web-mode message over a browser whose address bar the program
// cannot read: the address on the clipboard is taken instead.
inline const QString kCopyAddressHint =
    QStringLiteral("这个浏览器没有告诉本程序地址栏中的网址。请先在浏览器中按 Ctrl+L、Ctrl+C "
                   "复制网址，再按抓图热键。");

class Prompts;

// What the next hotkey press captures, from the main window's option buttons.
enum class CaptureMode { FullScreen, Control, Container, Window, WebPage };

// The main window as a capture sees it: the choices it holds, read at the moment of the
// request, and the places a capture leaves its results.
class CaptureHost {
public:
    virtual ~CaptureHost() = default;
    virtual QString saveFolder() const = 0; // the save-folder box, untrimmed
    virtual CaptureMode captureMode() const = 0;
    virtual bool pointerOverlay() const = 0; // "鼠标指针" ticked
    virtual void holdPicture(const QImage& picture) = 0;
    virtual void disarmDelayedCapture() = 0; // stop the delay timer, untick its box
};

// The program's own browser window as a capture request sees it: where an address found
// under the pointer is opened, and whether it is stitching a whole page right now.
class WebAddressOpener {
public:
    virtual ~WebAddressOpener() = default;
    virtual void openAddress(const QString& address) = 0;
    // A whole-page capture is running. Its waits let events run, so a request can arrive
    // in the middle of it; such a request is ignored (Dispatcher::DoCapture).
    virtual bool pageCaptureRunning() const = 0;
};

// The window a capture in the given mode takes, starting from the one under the pointer:
// itself (control, full screen, web page), its parent when it has one (container), or the
// last window of its parent chain, stopping early at a window of class "ThunderFormDC"
// (window).
WindowId captureTarget(Desktop& desktop, CaptureMode mode, WindowId underPointer);

// What the accessibility bus makes of a control or container capture inside the window
// (windowRect): the rectangle to capture, clipped to the window, and the element's name.
// The control is the deepest element; the container, its nearest ancestor whose clipped
// rectangle strictly holds the control's. Nothing where the bus has no better answer than
// the X window itself.
struct AccessibleTarget {
    QRect rect;
    QString name;
};
std::optional<AccessibleTarget> accessibleTarget(const AccessibleHit& hit, CaptureMode mode,
                                                 QRect windowRect);

// Carries out one capture request from start to file.
class Dispatcher {
public:
    Dispatcher(CaptureHost& host, Desktop& desktop, Prompts& prompts, ClipboardSink& clipboard,
               WebAddressOpener* webOpener = nullptr);

    // A request while the browser window stitches a page, in any mode, is ignored before it
    // asks anything of the desktop: no pointer, no grab, no accessibility look-up, no message.
    void DoCapture();

    // The target of the last request.
    WindowId TargetWnd = 0;

    // The file the last request wrote; empty when it wrote none.
    const QString& lastFile() const { return lastFile_; }

    void setWebAddressOpener(WebAddressOpener* opener) { webOpener_ = opener; }
    // Where controls drawn without X windows of their own are looked up; none: X11 only.
    void setAccessibleLookup(AccessibleLookup* lookup) { accessibility_ = lookup; }

    // Told how each request that got as far as the grab ended: its file written or not
    // (once the picture is on the clipboard), or no picture at all; the shell tells the user.
    void setReport(OutcomeReport report) { report_ = std::move(report); }

private:
    void runRequest();
    void openWebAddress(QPoint pointer);
    QString addressUnderPointer(QPoint pointer);
    void cropToAccessible(QImage& picture, QString& title, WindowId underPointer, QPoint pointer,
                          CaptureMode mode);

    CaptureHost& host_;
    Desktop& desktop_;
    Prompts& prompts_;
    ClipboardSink& clipboard_;
    WebAddressOpener* webOpener_;
    AccessibleLookup* accessibility_ = nullptr;
    QString lastFile_;
    OutcomeReport report_;
    bool browserHintGiven_ = false; // how to give a browser's address, said once a run
    void report(const CaptureOutcome& outcome);
};

} // namespace morvane
