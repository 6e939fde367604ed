#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

class QJsonObject;

namespace morvane {

class Desktop;

// The page's scripts as a capture runs them: in a script world of the capture's own, each
// answer waited for within a time limit, and all of it cancelled at once.
class PageScripts {
public:
    virtual ~PageScripts() = default;
    // The script's value; nothing when the page did not answer in time, the capture was
    // cancelled or the window is gone.
    virtual std::optional<QVariant> run(const QString& script, int timeoutMs) = 0;
    // Sends the script without waiting for its answer.
    virtual void send(const QString& script) = 0;
    // Waits, handling events, until done() holds or the time is up; false when it does not
    // hold (the time is up, the capture was cancelled or the window is gone).
    virtual bool waitUntil(const std::function<bool()>& done, int timeoutMs) = 0;
    // Cancelled by the user, or the window is gone: nothing more is waited for.
    virtual bool cancelled() const = 0;
};

// Where the page's pixels are read from, in device pixels from the view's top-left corner.
class PagePixels {
public:
    virtual ~PagePixels() = default;
    virtual QImage grab(const QRect& rect) = 0;
    // Returns once everything drawn so far can be read.
    virtual void flush() {}
};

// The view's pixels as the screen shows them, the view's top-left corner at viewOrigin.
class ScreenPagePixels final : public PagePixels {
public:
    ScreenPagePixels(Desktop& desktop, QPoint viewOrigin)
        : desktop_(desktop), origin_(viewOrigin) {}
    QImage grab(const QRect& rect) override;
    // The window's new picture goes to the display in several requests, the top first: wait
    // until the display has all of them.
    void flush() override;

private:
    Desktop& desktop_;
    QPoint origin_;
};

// The largest page image held: 100 million pixels, 400 MB at 32 bits a pixel (1920 x 52083,
// 1280 x 78125). More would ask a desktop for memory no capture should take; the file is
// written in pieces, so the image is the only copy of that size.
inline constexpr qint64 kMaxPagePixels = 100'000'000;

struct PageCaptureResult {
    enum class Ending {
        Done,      // image is the whole page
        Cancelled, // by the user, or the window went
        Unsteady,  // the page does not stay where it is scrolled
        Changed,   // the page keeps undoing what the capture changes
        Navigated, // the page went to another document
        NoAnswer,  // the page's script did not answer
        TooLarge,  // over kMaxPagePixels
        NoMemory,  // the page image could not be made
    };
    Ending ending = Ending::NoAnswer;
    QImage image;
    QSize size; // the page in device pixels, once known
};

// The script that asks the page which of its root and body scrolls.
QString scrollProbeScript();
// The script expression naming the element that scrolls, from the probe's answer and the
// view's outer size; nothing when the earlier choice stays. chooseScrollElement decides.
std::optional<QString> scrollElementFor(const QVariant& probeAnswer, QSize viewOuter);

// A whole-page capture: readies the page, carries out the plan of copies (reading back the
// scroll position, taking a copy again when the page moved, waiting for pictures in view,
// hiding fixed elements after the first view), and puts the page back as it was.
class PageCapture {
public:
    PageCapture(PageScripts& scripts, PagePixels& pixels) : scripts_(scripts), pixels_(pixels) {}

    // Told the share of copies taken, in percent, before each one.
    std::function<void(int percent)> progress;
    // Told once the page image is made, before the first copy.
    std::function<void()> copying;

    // Captures the page scrolled by the element (a script expression).
    PageCaptureResult run(const QString& scrollElement);

private:
    using Ending = PageCaptureResult::Ending;

    Ending copyPage(QImage& page, const QJsonObject& view);
    // A step that got no answer: cancelled, the document is another one, or no answer.
    Ending stepFailed();

    PageScripts& scripts_;
    PagePixels& pixels_;
};

} // namespace morvane
