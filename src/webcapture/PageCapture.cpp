#include "PageCapture.h"

#include "common/Log.h"
#include "platform/Desktop.h"
#include "webcapture/PageCopier.h"
#include "webcapture/PagePlan.h"

#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

namespace morvane {

namespace {

// The settle marker's id is new each capture, so that a page's style sheet cannot name it.
QString markerId() {
    return QStringLiteral("__morvane_%1").arg(QRandomGenerator::global()->generate(), 0, 36);
}

constexpr int kAnswerMs = 5000;

QString resourceText(const char* path) {
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

QJsonObject jsonObject(const std::optional<QVariant>& answer) {
    return answer ? QJsonDocument::fromJson(answer->toString().toUtf8()).object() : QJsonObject();
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
        QStringLiteral("%1(%2, '%3')").arg(pageSide, scrollElement, markerId()), kAnswerMs));
    const double dpr = view.value(QStringLiteral("dpr")).toDouble(1.0);
    if (view.value(QStringLiteral("foreign")).toBool()) {
        qCInfo(lcMorvane) << "page capture: the page shows a frame of another site over the "
                             "view; only what it shows is taken";
    }
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
    PageCopier copier(scripts_, pixels_, page, view);
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
