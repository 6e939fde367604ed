#include "PageCapture.h"

#include "common/Log.h"
#include "platform/Desktop.h"
#include "webcapture/PagePlan.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <algorithm>
#include <array>
#include <vector>

namespace morvane {

namespace {

const QString kMarkerId = QStringLiteral("__morvane_settle_marker");

// How long a copy waits for images in view that are still loading, and for all of them.
constexpr int kImageWaitMs = 3000;
constexpr int kImageBudgetMs = 15000;
// Copies taken again because the page was not where it was sent, before the capture stops:
// a page that keeps moving itself gives no steady picture.
constexpr int kScrollTries = 10;
constexpr int kAnswerMs = 5000;

QString resourceText(const char* path) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QJsonObject jsonObject(const std::optional<QVariant>& answer) {
    return answer ? QJsonDocument::fromJson(answer->toString().toUtf8()).object() : QJsonObject();
}

// A rectangle of CSS pixels in device pixels, edges rounded, so that neighbours still meet.
QRect toDevice(const QRect& rect, double dpr) {
    const int left = qRound(rect.left() * dpr);
    const int top = qRound(rect.top() * dpr);
    return QRect(left, top, qRound((rect.left() + rect.width()) * dpr) - left,
                 qRound((rect.top() + rect.height()) * dpr) - top);
}

// The copies of one capture, taken in order. The settle marker is a pixel placed where a copy
// does not read, changing colour in the script that scrolls; once the screen shows the new
// colour, it shows the new position.
class Copier {
public:
    Copier(PageScripts& scripts, PagePixels& pixels, QImage& page, const QJsonObject& view)
        : scripts_(scripts), pixels_(pixels), painter_(&page),
          CW_(view.value(QStringLiteral("w")).toInt()),
          CH_(view.value(QStringLiteral("h")).toInt()),
          dpr_(view.value(QStringLiteral("dpr")).toDouble(1.0)),
          plan_(planPageCapture({view.value(QStringLiteral("sw")).toInt(),
                                 view.value(QStringLiteral("sh")).toInt(), CW_, CH_})),
          // The scrolling area's place in the view, in device pixels.
          origin_(toDevice(QRect(view.value(QStringLiteral("x")).toInt(),
                                 view.value(QStringLiteral("y")).toInt(), 1, 1),
                           dpr_)
                      .topLeft()) {}

    using Ending = PageCaptureResult::Ending;

    // Learns the marker's colours; false when a step got no answer.
    bool learnMarker();
    // Takes every copy; nothing while it goes on, else how it ended.
    std::optional<Ending> copy(const std::function<void(int)>& progress);

private:
    // Taken; the page moved since the previous copy; not where it was sent; no answer.
    enum class Part { Taken, Moved, NotThere, Failed };

    QRgb spotPixel(QPoint spot) {
        const QImage pixel = pixels_.grab(
            QRect(origin_ + toDevice(QRect(spot, QSize(1, 1)), dpr_).topLeft(), QSize(1, 1)));
        return pixel.isNull() ? 0u : pixel.pixel(0, 0) & 0xffffffu;
    }
    QVariantList step(const PageCopy& copy, QPoint spot, int colour) {
        const bool firstView = copy.scrollTop == 0 && copy.scrollLeft == 0;
        const auto answer = scripts_.run(
            QStringLiteral("window.__morvane.step(%1,%2,%3,%4,'%5',%6)")
                .arg(copy.scrollTop)
                .arg(copy.scrollLeft)
                .arg(spot.x())
                .arg(spot.y())
                .arg(colour == 0 ? QStringLiteral("#000000") : QStringLiteral("#ffffff"))
                .arg(firstView ? 0 : 1),
            kAnswerMs);
        return answer ? answer->toList() : QVariantList();
    }
    QPoint position(int index) const {
        const PageCopy& at = plan_[static_cast<std::size_t>(index)];
        return {at.scrollLeft, at.scrollTop};
    }
    // A corner of the view outside the part being read, for the marker.
    std::optional<QPoint> outside(const QRect& part) const {
        for (const QPoint spot :
             {QPoint(0, 0), QPoint(CW_ - 1, CH_ - 1), QPoint(0, CH_ - 1), QPoint(CW_ - 1, 0)}) {
            if (!part.contains(spot)) {
                return spot;
            }
        }
        return std::nullopt;
    }
    Part copyPart(int k, const QRect& part);
    void waitForMarker(QPoint spot, int colour);

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
    qint64 imageBudget_ = kImageBudgetMs;
    int tries_ = 0;
    int lastDone_ = -1; // the last copy taken
};

bool Copier::learnMarker() {
    // The colours are learnt from the screen first, as the page may render them otherwise
    // (a grey filter over the whole page, say). The spot is read once it has changed and then
    // stayed the same for a few frames: a change may be the page's own (a picture arriving)
    // before the marker shows.
    const PageCopy& firstView = plan_.front();
    for (int colour = 0; colour < 2; ++colour) {
        const QRgb before = spotPixel(QPoint(0, 0));
        if (step(firstView, QPoint(0, 0), colour).isEmpty()) {
            return false;
        }
        scripts_.waitUntil([&] { return spotPixel(QPoint(0, 0)) != before; }, 300);
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
        qCInfo(lcMorvane) << "page capture: the page hides the settle marker; waiting by time";
    }
    return true;
}

void Copier::waitForMarker(QPoint spot, int colour) {
    if (markerShows_) {
        if (!scripts_.waitUntil(
                [&] { return spotPixel(spot) == rendered_[static_cast<std::size_t>(colour)]; },
                2000) &&
            !scripts_.cancelled()) {
            qCInfo(lcMorvane) << "page capture: a frame took over 2 s";
        }
    } else {
        scripts_.waitUntil([] { return false; }, 60);
    }
}

Copier::Part Copier::copyPart(int k, const QRect& part) {
    const PageCopy& copy = plan_[static_cast<std::size_t>(k)];
    const QPoint spot = outside(part).value_or(QPoint(0, 0));
    // The colour the spot does not show now, so that its change can be seen.
    int colour = spotPixel(spot) == rendered_[0] ? 1 : 0;
    QVariantList answer = step(copy, spot, colour);
    if (answer.size() != 5) {
        return Part::Failed;
    }
    // The page must not have moved since the previous copy was read: a page that scrolls
    // itself would have put other rows there.
    if (lastDone_ >= 0 && QPoint(answer[1].toInt(), answer[0].toInt()) != position(lastDone_)) {
        ++tries_;
        return Part::Moved;
    }
    if (QPoint(answer[3].toInt(), answer[2].toInt()) != position(k)) {
        ++tries_;
        scripts_.waitUntil([] { return false; }, 50);
        return Part::NotThere;
    }
    if (answer[4].toInt() > 0 && imageBudget_ > 0) {
        // Images in view still loading: wait for them, within a bound, then show their frame
        // with another marker change.
        QElapsedTimer waited;
        waited.start();
        scripts_.waitUntil(
            [&] {
                const auto n =
                    scripts_.run(QStringLiteral("window.__morvane.pending()"), kAnswerMs);
                return !n || n->toInt() == 0;
            },
            static_cast<int>(std::min<qint64>(kImageWaitMs, imageBudget_)));
        imageBudget_ -= waited.elapsed();
        if (imageBudget_ <= 0) {
            qCInfo(lcMorvane) << "page capture: images still loading; taken as they are";
        }
        // Two marker changes: a picture that has just arrived may be drawn a frame after the
        // one that shows the first change.
        for (int change = 0; change < 2; ++change) {
            colour = 1 - colour;
            answer = step(copy, spot, colour);
            if (answer.size() != 5) {
                return Part::Failed;
            }
            if (change == 0 && markerShows_) {
                scripts_.waitUntil(
                    [&] { return spotPixel(spot) == rendered_[static_cast<std::size_t>(colour)]; },
                    2000);
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

std::optional<Copier::Ending> Copier::copy(const std::function<void(int)>& progress) {
    const int total = static_cast<int>(plan_.size());
    for (int k = 0; k <= total;) {
        if (progress) {
            progress(k * 100 / total);
        }
        if (scripts_.cancelled()) {
            return Ending::Cancelled;
        }
        if (tries_ >= kScrollTries) {
            return Ending::Unsteady;
        }
        if (k == total) {
            // The last copy is good if the page is still where it was sent.
            const auto at = scripts_.run(
                QStringLiteral("[window.__morvane.el.scrollLeft, window.__morvane.el.scrollTop]"),
                kAnswerMs);
            if (!at || at->toList().size() != 2) {
                return std::nullopt;
            }
            const QVariantList xy = at->toList();
            if (lastDone_ >= 0 && QPoint(xy[0].toInt(), xy[1].toInt()) != position(lastDone_)) {
                ++tries_;
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
        if (taken == Part::Moved) {
            k = lastDone_; // the previous copy shows rows the page no longer has there
            continue;
        }
        if (taken == Part::NotThere) {
            continue; // this copy again
        }
        ++k;
    }
    return Ending::Done;
}

} // namespace

QImage ScreenPagePixels::grab(const QRect& rect) {
    return desktop_.grabScreen(rect.translated(origin_));
}

void ScreenPagePixels::flush() {
    QGuiApplication::sync();
}

QString scrollProbeScript() {
    static const QString script = resourceText(":/webcapture/scroll-probe.js");
    return script;
}

std::optional<QString> scrollElementFor(const QVariant& probeAnswer, QSize viewOuter) {
    const QJsonObject a = jsonObject(probeAnswer);
    const ScrollProbe root{
        a.value(QStringLiteral("root")).toBool(), a.value(QStringLiteral("rt")).toInt(),
        a.value(QStringLiteral("rl")).toInt(), a.value(QStringLiteral("rw")).toInt(),
        a.value(QStringLiteral("rh")).toInt()};
    const ScrollProbe body{
        a.value(QStringLiteral("body")).toBool(), a.value(QStringLiteral("bt")).toInt(),
        a.value(QStringLiteral("bl")).toInt(), a.value(QStringLiteral("bw")).toInt(),
        a.value(QStringLiteral("bh")).toInt()};
    switch (chooseScrollElement(root, body, viewOuter)) {
    case ScrollChoice::Root:
        return QStringLiteral("document.documentElement");
    case ScrollChoice::Body:
        return QStringLiteral("document.body");
    case ScrollChoice::Keep:
        break;
    }
    return std::nullopt;
}

PageCaptureResult PageCapture::run(const QString& scrollElement) {
    static const QString pageSide = resourceText(":/webcapture/page-side.js");
    scripts_.run(scrollElement + QStringLiteral(".scrollTop = 0;"), kAnswerMs);
    const QJsonObject view = jsonObject(scripts_.run(
        QStringLiteral("%1(%2, '%3')").arg(pageSide, scrollElement, kMarkerId), kAnswerMs));
    const double dpr = view.value(QStringLiteral("dpr")).toDouble(1.0);
    PageCaptureResult result;
    result.size = toDevice(QRect(0, 0, view.value(QStringLiteral("sw")).toInt(),
                                 view.value(QStringLiteral("sh")).toInt()),
                           dpr)
                      .size();
    if (view.isEmpty() || result.size.isEmpty() || view.value(QStringLiteral("w")).toInt() <= 0 ||
        view.value(QStringLiteral("h")).toInt() <= 0) {
        result.ending = scripts_.cancelled() ? Ending::Cancelled : Ending::NoAnswer;
    } else if (qint64{result.size.width()} * qint64{result.size.height()} > kMaxPagePixels) {
        result.ending = Ending::TooLarge;
    } else {
        QImage page(result.size, QImage::Format_RGB32);
        if (page.isNull()) {
            result.ending = Ending::NoMemory;
        } else {
            page.fill(Qt::black);
            if (copying) {
                copying();
            }
            result.ending = copyPage(page, view);
            if (result.ending == Ending::Done) {
                result.image = page;
            }
        }
    }
    // However the capture ended, the page looks as before: styles back, marker gone, at the
    // top. A page that went elsewhere has nothing to put back. After a cancel it is sent
    // without waiting: the page may not be answering at all.
    const QString restore = QStringLiteral("window.__morvane && window.__morvane.restore()");
    if (scripts_.cancelled()) {
        scripts_.send(restore);
    } else {
        scripts_.run(restore, 2000);
    }
    return result;
}

PageCapture::Ending PageCapture::copyPage(QImage& page, const QJsonObject& view) {
    Copier copier(scripts_, pixels_, page, view);
    if (!copier.learnMarker()) {
        return stepFailed();
    }
    if (scripts_.cancelled()) {
        return Ending::Cancelled;
    }
    const std::optional<Ending> ending = copier.copy(progress);
    return ending ? *ending : stepFailed();
}

PageCapture::Ending PageCapture::stepFailed() {
    if (scripts_.cancelled()) {
        return Ending::Cancelled;
    }
    const auto state = scripts_.run(QStringLiteral("typeof window.__morvane"), 1000);
    return state && state->toString() == QLatin1String("undefined") ? Ending::Navigated
                                                                    : Ending::NoAnswer;
}

} // namespace morvane
