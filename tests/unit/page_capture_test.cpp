// The whole-page capture against a page played by a script: its view is painted into a
// memory desktop after each scroll, as the screen would show it.
#include "support/MemoryDesktop.h"
#include "webcapture/PageCapture.h"

#include <QColor>
#include <QRegularExpression>
#include <functional>
#include <utility>

#include <gtest/gtest.h>

using namespace morvane;

namespace {

using Ending = PageCaptureResult::Ending;

constexpr QSize kView(300, 200);
const QPoint kViewOrigin(40, 30); // the view's place on the screen

QRgb pageColour(int x, int y) {
    return qRgb((y / 50 * 37) % 256, (x / 60 * 91 + 40) % 256, 90);
}

// The fixed header the played page shows in its first view: its rows and colour.
constexpr int kHeaderRows = 20;
constexpr QRgb kHeader = 0xff00ff;
// The bar a misbehaving page shows again over the view once the capture has hidden it.
constexpr QRgb kBar = 0x00ffff;

QRgb expectedAt(int x, int y) {
    return y < kHeaderRows && x < kView.width() ? kHeader : pageColour(x, y);
}

// How the played page misbehaves.
enum class Page {
    Steady,
    ResetsItsScroll,
    NavigatesAway,
    StopsAnswering,
    Cancelled,
    Huge,
    ShowsItsBarAgain,   // at every hidden step
    ShowsItsBarOnce,    // after the eighth step
    HidesTheMarker,     // the marker never reaches the screen
    MovesAfterLastCopy, // is read back elsewhere once, after the last copy
};

// A page of `size` pixels scrolled in a kView view, painted into the desktop at each step.
class ScriptedPage final : public PageScripts {
public:
    ScriptedPage(MemoryDesktop& desktop, Page behaviour, QSize size)
        : desktop_(desktop), behaviour_(behaviour), size_(size) {}

    std::optional<QVariant> run(const QString& script, int /*timeoutMs*/) override {
        if (cancelled()) {
            return std::nullopt;
        }
        // The page-side script, which readies the page.
        if (script.contains(QLatin1String("markId"))) {
            return QStringLiteral(R"({"x":0,"y":0,"w":%1,"h":%2,"sw":%3,"sh":%4,"dpr":1})")
                .arg(kView.width())
                .arg(kView.height())
                .arg(size_.width())
                .arg(size_.height());
        }
        static const QRegularExpression stepCall(
            QStringLiteral(R"(step\((\d+),(\d+),(\d+),(\d+),'(#\w+)',(\d)\))"));
        if (const auto m = stepCall.match(script); m.hasMatch()) {
            return step(m.captured(1).toInt(), m.captured(2).toInt(),
                        QPoint(m.captured(3).toInt(), m.captured(4).toInt()),
                        QColor::fromString(m.captured(5)).rgb(), m.captured(6) == u'1');
        }
        if (script.contains(QLatin1String("__morvane.frames"))) {
            // A page that hides the marker draws its step three frames later.
            if (++frames_ == 3 && drawLater_) {
                drawLater_();
            }
            return frames_;
        }
        if (script.contains(QLatin1String("typeof window.__morvane"))) {
            return gone_ ? std::optional<QVariant>(QStringLiteral("undefined")) : std::nullopt;
        }
        if (script.contains(QLatin1String("pending()"))) {
            return 0;
        }
        if (script.contains(QLatin1String("restore()"))) {
            ++restored;
            return true;
        }
        if (script.contains(QLatin1String("__morvane.check()"))) {
            const bool undone = std::exchange(barShown_, false);
            return QVariantList{scroll_.x(), scroll_.y(), undone ? 1 : 0};
        }
        return true; // scrollTop = 0
    }
    void send(const QString& script) override {
        restored += script.contains(QLatin1String("restore()")) ? 1 : 0;
    }
    bool waitUntil(const std::function<bool()>& done, int timeoutMs) override {
        // A millisecond a round; the page draws at once.
        for (int waited = 0; !done(); ++waited) {
            if (cancelled() || waited >= timeoutMs) {
                return false;
            }
        }
        return true;
    }
    bool cancelled() const override { return cancelled_; }

    int restored = 0;

private:
    std::optional<QVariant> step(int top, int left, QPoint marker, QRgb colour, bool hidden) {
        if (++steps_ > 6) {
            switch (behaviour_) {
            case Page::NavigatesAway:
                gone_ = true;
                return QVariant(); // the call throws in the new document
            case Page::StopsAnswering:
                return std::nullopt;
            case Page::Cancelled:
                cancelled_ = true;
                return std::nullopt;
            default:
                break;
            }
        }
        const QPoint before = scroll_;
        const QPoint end(std::max(0, size_.width() - kView.width()),
                         std::max(0, size_.height() - kView.height()));
        scroll_ = QPoint(std::clamp(left, 0, end.x()), std::clamp(top, 0, end.y()));
        if (behaviour_ == Page::ResetsItsScroll) {
            scroll_ = QPoint(0, 0);
        }
        // The page shows its bar again after the step; the next one hears of it.
        const bool undone = std::exchange(barShown_, false);
        barShown_ = hidden && (behaviour_ == Page::ShowsItsBarAgain ||
                               (behaviour_ == Page::ShowsItsBarOnce && steps_ == 8));
        const QPoint landed = scroll_;
        if (behaviour_ == Page::MovesAfterLastCopy && !moved_ && scroll_ == end) {
            moved_ = true; // after answering where the step landed
            scroll_ -= QPoint(0, 7);
        }
        frames_ = 0;
        drawLater_ = [this, hidden] { paint(scroll_, !hidden); };
        if (behaviour_ != Page::HidesTheMarker) {
            std::exchange(drawLater_, nullptr)();
            desktop_.framebuffer().setPixel(kViewOrigin + marker, colour);
        }
        return QVariantList{before.y(), before.x(), landed.y(), landed.x(), 0, undone ? 1 : 0, 0};
    }

    // The view scrolled to `at`, with the fixed header, and with the bar if shown again.
    void paint(QPoint at, bool header) {
        for (int y = 0; y < kView.height(); ++y) {
            for (int x = 0; x < kView.width(); ++x) {
                QRgb c = pageColour(x + at.x(), y + at.y());
                if (header && y < kHeaderRows) {
                    c = kHeader;
                } else if (barShown_ && y >= kView.height() - 10) {
                    c = kBar;
                }
                desktop_.framebuffer().setPixel(kViewOrigin + QPoint(x, y), c);
            }
        }
    }

    MemoryDesktop& desktop_;
    Page behaviour_;
    QSize size_;
    QPoint scroll_;
    int steps_ = 0;
    int frames_ = 0;
    std::function<void()> drawLater_;
    bool barShown_ = false;
    bool moved_ = false;
    bool gone_ = false;
    bool cancelled_ = false;
};

struct Case {
    const char* name;
    Page page;
    Ending ending;
};

class PageCaptureEnding : public ::testing::TestWithParam<Case> {};

TEST_P(PageCaptureEnding, EndsAsThePageBehavesAndPutsThePageBack) {
    MemoryDesktop desktop(QSize(800, 600));
    const QSize size = GetParam().page == Page::Huge ? QSize(3000, 40000) : QSize(700, 900);
    ScriptedPage page(desktop, GetParam().page, size);
    ScreenPagePixels pixels(desktop, kViewOrigin);
    PageCapture capture(page, pixels);
    int lastPercent = -1;
    capture.progress = [&](int percent) { lastPercent = percent; };
    const PageCaptureResult result = capture.run(QStringLiteral("document.documentElement"));
    EXPECT_EQ(result.ending, GetParam().ending);
    EXPECT_EQ(page.restored, 1) << "put back however it ended";
    if (result.ending != Ending::Done) {
        EXPECT_TRUE(result.image.isNull());
        return;
    }
    EXPECT_EQ(lastPercent, 100);
    ASSERT_EQ(result.image.size(), size);
    int wrong = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            if ((result.image.pixel(x, y) & 0xffffffu) != (expectedAt(x, y) & 0xffffffu) &&
                ++wrong < 4) {
                ADD_FAILURE() << "pixel " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(
    , PageCaptureEnding,
    ::testing::Values(Case{"Done", Page::Steady, Ending::Done},
                      Case{"Unsteady", Page::ResetsItsScroll, Ending::Unsteady},
                      Case{"Navigated", Page::NavigatesAway, Ending::Navigated},
                      Case{"NoAnswer", Page::StopsAnswering, Ending::NoAnswer},
                      Case{"Cancelled", Page::Cancelled, Ending::Cancelled},
                      Case{"TooLarge", Page::Huge, Ending::TooLarge},
                      Case{"Changed", Page::ShowsItsBarAgain, Ending::Changed},
                      Case{"BarShownOnceIsTakenAgain", Page::ShowsItsBarOnce, Ending::Done},
                      Case{"HiddenMarkerWaitsForFrames", Page::HidesTheMarker, Ending::Done},
                      Case{"MovedAfterLastCopyIsTakenAgain", Page::MovesAfterLastCopy,
                           Ending::Done}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
