#include "PageCopier.h"

#include "common/Log.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <algorithm>

namespace morvane {

namespace {

// How long a copy waits for images in view that are still loading, and for all of them.
constexpr int kImageWaitMs = 3000;
constexpr int kImageBudgetMs = 15000;
// Copies taken again because the page was not where it was sent, or undid what the capture
// changed, before the capture stops: such a page gives no steady picture.
constexpr int kScrollTries = 10;
constexpr int kAnswerMs = 5000;
// The frames a step waits for when the marker does not show: the first shows the step, the
// others that it has reached the window.
constexpr int kFramesAfterStep = 3;

} // namespace

QRect toDevice(const QRect& rect, double dpr) {
    const int left = qRound(rect.left() * dpr);
    const int top = qRound(rect.top() * dpr);
    return QRect(left, top, qRound((rect.left() + rect.width()) * dpr) - left,
                 qRound((rect.top() + rect.height()) * dpr) - top);
}

PageCopier::PageCopier(PageScripts& scripts, PagePixels& pixels, QImage& page,
                       const QJsonObject& view)
    : scripts_(scripts), pixels_(pixels), painter_(&page),
      CW_(view.value(QStringLiteral("w")).toInt()), CH_(view.value(QStringLiteral("h")).toInt()),
      dpr_(view.value(QStringLiteral("dpr")).toDouble(1.0)),
      plan_(planPageCapture({view.value(QStringLiteral("sw")).toInt(),
                             view.value(QStringLiteral("sh")).toInt(), CW_, CH_})),
      // The scrolling area's place in the view, in device pixels.
      origin_(toDevice(QRect(view.value(QStringLiteral("x")).toInt(),
                             view.value(QStringLiteral("y")).toInt(), 1, 1),
                       dpr_)
                  .topLeft()),
      imageBudget_(kImageBudgetMs) {}

QRgb PageCopier::spotPixel(QPoint spot) {
    const QImage pixel = pixels_.grab(
        QRect(origin_ + toDevice(QRect(spot, QSize(1, 1)), dpr_).topLeft(), QSize(1, 1)));
    return pixel.isNull() ? 0u : pixel.pixel(0, 0) & 0xffffffu;
}

QVariantList PageCopier::step(const PageCopy& copy, QPoint spot, int colour) {
    const bool firstView = copy.scrollTop == 0 && copy.scrollLeft == 0;
    const auto answer =
        scripts_.run(QStringLiteral("window.__morvane.step(%1,%2,%3,%4,'%5',%6)")
                         .arg(copy.scrollTop)
                         .arg(copy.scrollLeft)
                         .arg(spot.x())
                         .arg(spot.y())
                         .arg(colour == 0 ? QStringLiteral("#000000") : QStringLiteral("#ffffff"))
                         .arg(firstView ? 0 : 1),
                     kAnswerMs);
    QVariantList list = answer ? answer->toList() : QVariantList();
    if (list.size() != AnswerSize) {
        return {};
    }
    if (list[Tampered].toInt() != 0 && markerShows_) {
        qCInfo(lcMorvane) << "page capture: the page changes the settle marker; waiting for "
                             "its frames";
        markerShows_ = false;
        // The previous copy may have been read on the page's colour, not the frame's.
        markerRetake_ = true;
    }
    return list;
}

QPoint PageCopier::position(int index) const {
    const PageCopy& at = plan_[static_cast<std::size_t>(index)];
    return {at.scrollLeft, at.scrollTop};
}

std::optional<QPoint> PageCopier::outside(const QRect& part) const {
    for (const QPoint spot :
         {QPoint(0, 0), QPoint(CW_ - 1, CH_ - 1), QPoint(0, CH_ - 1), QPoint(CW_ - 1, 0)}) {
        if (!part.contains(spot)) {
            return spot;
        }
    }
    return std::nullopt;
}

void PageCopier::waitForFrames() {
    scripts_.waitUntil(
        [&] {
            const auto frames = scripts_.run(QStringLiteral("window.__morvane.frames"), kAnswerMs);
            return !frames || frames->toInt() >= kFramesAfterStep;
        },
        2000);
    pixels_.flush();
    scripts_.waitUntil([] { return false; }, 20);
}

bool PageCopier::learnMarker() {
    // The colours are learnt from the screen first, as the page may render them otherwise
    // (a grey filter over the whole page, say). The spot is read once the page has drawn its
    // frames and then stayed the same for a few of them: a change may be the page's own (a
    // picture arriving).
    const PageCopy& firstView = plan_.front();
    for (int colour = 0; colour < 2; ++colour) {
        if (step(firstView, QPoint(0, 0), colour).isEmpty()) {
            return false;
        }
        waitForFrames();
        QElapsedTimer quiet;
        quiet.start();
        QRgb last = spotPixel(QPoint(0, 0));
        scripts_.waitUntil(
            [&] {
                const QRgb now = spotPixel(QPoint(0, 0));
                if (now != last) {
                    last = now;
                    quiet.restart();
                }
                return quiet.elapsed() >= 40;
            },
            300);
        rendered_[static_cast<std::size_t>(colour)] = last;
    }
    markerShows_ = rendered_[0] != rendered_[1];
    if (!markerShows_) {
        qCInfo(lcMorvane) << "page capture: the page hides the settle marker; waiting for its "
                             "frames";
    }
    return true;
}

void PageCopier::waitForMarker(QPoint spot, int colour) {
    if (!markerShows_) {
        waitForFrames();
        return;
    }
    if (!scripts_.waitUntil(
            [&] { return spotPixel(spot) == rendered_[static_cast<std::size_t>(colour)]; }, 2000) &&
        !scripts_.cancelled()) {
        qCInfo(lcMorvane) << "page capture: a frame took over 2 s";
    }
}

void PageCopier::waitForImages(int pending) {
    if (pending <= 0 || imageBudget_ <= 0) {
        return;
    }
    QElapsedTimer waited;
    waited.start();
    scripts_.waitUntil(
        [&] {
            const auto n = scripts_.run(QStringLiteral("window.__morvane.pending()"), kAnswerMs);
            return !n || n->toInt() == 0;
        },
        static_cast<int>(std::min<qint64>(kImageWaitMs, imageBudget_)));
    imageBudget_ -= waited.elapsed();
    if (imageBudget_ <= 0) {
        qCInfo(lcMorvane) << "page capture: images still loading; taken as they are";
    }
}

std::optional<PageCopier::Part> PageCopier::judge(const QVariantList& answer, int k) {
    if (lastDone_ < 0) {
        return std::nullopt;
    }
    if (markerRetake_) {
        markerRetake_ = false;
        ++tries_;
        return Part::Again;
    }
    // The previous copy was read while the page showed what the capture had hidden, or
    // while it was not where it had been sent: a page that scrolls itself would have put
    // other rows there.
    const bool undone = answer[Undone].toInt() != 0;
    if (undone ||
        QPoint(answer[LeftBefore].toInt(), answer[TopBefore].toInt()) != position(lastDone_)) {
        ++tries_;
        undone_ = undone;
        return Part::Again;
    }
    if (QPoint(answer[Left].toInt(), answer[Top].toInt()) != position(k)) {
        ++tries_;
        undone_ = false;
        return Part::NotThere;
    }
    return std::nullopt;
}

PageCopier::Part PageCopier::copyPart(int k, const QRect& part) {
    const PageCopy& copy = plan_[static_cast<std::size_t>(k)];
    const QPoint spot = outside(part).value_or(QPoint(0, 0));
    // The colour the spot does not show now, so that its change can be seen.
    int colour = spotPixel(spot) == rendered_[0] ? 1 : 0;
    QVariantList answer = step(copy, spot, colour);
    if (answer.isEmpty()) {
        return Part::Failed;
    }
    if (const auto verdict = judge(answer, k)) {
        // The step is waited for all the same: a frame of it arriving late would show the
        // colour the next step chooses, at this step's position.
        waitForMarker(spot, colour);
        return *verdict;
    }
    if (answer[Pending].toInt() > 0 && imageBudget_ > 0) {
        // Images in view still loading: wait for them, within a bound, then show their frame
        // with two marker changes: a picture that has just arrived may be drawn a frame after
        // the one that shows the first change.
        waitForImages(answer[Pending].toInt());
        for (int change = 0; change < 2; ++change) {
            colour = 1 - colour;
            if (step(copy, spot, colour).isEmpty()) {
                return Part::Failed;
            }
            if (change == 0) {
                waitForMarker(spot, colour);
            }
        }
    }
    waitForMarker(spot, colour);
    pixels_.flush();
    if (scripts_.cancelled()) {
        return Part::Failed;
    }
    const QImage pixels = pixels_.grab(toDevice(part, dpr_).translated(origin_));
    painter_.drawImage(
        toDevice(QRect(copy.destination + (part.topLeft() - copy.source.topLeft()), part.size()),
                 dpr_)
            .topLeft(),
        pixels);
    lastDone_ = k;
    return Part::Taken;
}

std::optional<PageCopier::Ending> PageCopier::copy(const std::function<void(int)>& progress) {
    const int total = static_cast<int>(plan_.size());
    for (int k = 0; k <= total;) {
        if (progress) {
            progress(k * 100 / total);
        }
        if (scripts_.cancelled()) {
            return Ending::Cancelled;
        }
        if (tries_ >= kScrollTries) {
            return undone_ ? Ending::Changed : Ending::Unsteady;
        }
        if (k == total) {
            // The last copy is good if the page is still where it was sent and shows nothing
            // the capture hid.
            const auto at = scripts_.run(QStringLiteral("window.__morvane.check()"), kAnswerMs);
            const QVariantList xyu = at ? at->toList() : QVariantList();
            if (xyu.size() != 3) {
                return std::nullopt;
            }
            const bool undone = xyu[2].toInt() != 0;
            if (lastDone_ >= 0 &&
                (undone || QPoint(xyu[0].toInt(), xyu[1].toInt()) != position(lastDone_))) {
                ++tries_;
                undone_ = undone;
                k = lastDone_;
                continue;
            }
            return Ending::Done;
        }
        const PageCopy& copy = plan_[static_cast<std::size_t>(k)];
        if (copy.source.isEmpty()) {
            ++k;
            continue;
        }
        // A copy of the whole view is taken in two parts, so that the marker always lies
        // outside the part being read.
        QList<QRect> parts{copy.source};
        if (!outside(copy.source)) {
            const QRect& s = copy.source;
            parts = {s.adjusted(0, 1, 0, 0), QRect(s.left(), s.top(), s.width(), 1)};
        }
        Part taken = Part::Taken;
        for (int p = 0; p < parts.size() && taken == Part::Taken; ++p) {
            taken = copyPart(k, parts[p]);
        }
        if (taken == Part::Failed) {
            return std::nullopt;
        }
        if (taken == Part::Again) {
            k = lastDone_;
            continue;
        }
        if (taken == Part::NotThere) {
            continue; // this copy again
        }
        ++k;
    }
    return Ending::Done;
}

} // namespace morvane
