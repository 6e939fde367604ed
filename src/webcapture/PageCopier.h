#pragma once

#include "webcapture/PageCapture.h"
#include "webcapture/PagePlan.h"

#include <QPainter>
#include <array>
#include <vector>

namespace morvane {

// A rectangle of CSS pixels in device pixels, edges rounded, so that neighbours still meet.
QRect toDevice(const QRect& rect, double dpr);

// The copies of one capture, taken in order into the page image. The settle marker is a pixel
// placed where a copy does not read, changing colour in the script that scrolls; once the
// screen shows the new colour, it shows the new position. Where the page keeps the marker
// from showing, each copy waits for the page's next frames instead.
class PageCopier {
public:
    // The view as the page-side script measured it (JSON fields x, y, w, h, sw, sh, dpr).
    PageCopier(PageScripts& scripts, PagePixels& pixels, QImage& page, const QJsonObject& view);

    using Ending = PageCaptureResult::Ending;

    // Learns the marker's colours; false when a step got no answer.
    bool learnMarker();
    // Takes every copy; nothing when a step got no answer, else how it ended.
    std::optional<Ending> copy(const std::function<void(int)>& progress);

private:
    // Taken; the previous copy is to be taken again (the page moved since, or undid a change
    // of the capture's); not where it was sent; no answer.
    enum class Part { Taken, Again, NotThere, Failed };

    // The answer of a step: the position before and after it, the images in view still
    // loading, whether the page undid a change of the capture's since the previous step, and
    // whether it changed the marker.
    enum Answer { TopBefore, LeftBefore, Top, Left, Pending, Undone, Tampered, AnswerSize };

    QRgb spotPixel(QPoint spot);
    QVariantList step(const PageCopy& copy, QPoint spot, int colour);
    QPoint position(int index) const;
    std::optional<QPoint> outside(const QRect& part) const;
    Part copyPart(int k, const QRect& part);
    // What the step's answer says of the page since the previous copy.
    std::optional<Part> judge(const QVariantList& answer, int k);
    void waitForImages(int pending);
    void waitForMarker(QPoint spot, int colour);
    // Waits until the page has drawn the frames after the last step.
    void waitForFrames();

    PageScripts& scripts_;
    PagePixels& pixels_;
    QPainter painter_;
    const int CW_;
    const int CH_;
    const double dpr_;
    const std::vector<PageCopy> plan_;
    const QPoint origin_;
    std::array<QRgb, 2> rendered_{0, 0};
    bool markerShows_ = false;
    bool markerRetake_ = false; // the marker was found changed by the page
    qint64 imageBudget_;
    int tries_ = 0;
    bool undone_ = false; // the last copy taken again was because the page undid a change
    int lastDone_ = -1;   // the last copy taken
};

} // namespace morvane
