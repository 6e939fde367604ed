#include "PageEnding.h"

#include "capture/CaptureFile.h"
#include "capture/CaptureOutcome.h"
#include "common/Log.h"
#include "platform/Desktop.h"

namespace morvane {

PageNotice noticeFor(const std::optional<PageCaptureResult>& result) {
    using Ending = PageCaptureResult::Ending;
    using Way = PageNotice::Way;
    if (!result) {
        qCWarning(lcMorvane) << "page capture ended: the page has no scrolling element";
        return {Way::Report, QStringLiteral("网页中没有可以滚动的内容")};
    }
    switch (result->ending) {
    case Ending::Done:
        break;
    case Ending::Cancelled:
        qCInfo(lcMorvane) << "page capture cancelled: no file written";
        return {};
    case Ending::Navigated:
        qCWarning(lcMorvane) << "page capture stopped: the page went to another address";
        return {Way::Message, QStringLiteral("抓图已停止：网页转到了别的地址")};
    case Ending::Unsteady:
        qCWarning(lcMorvane) << "page capture stopped: the page does not stay where it is "
                                "scrolled";
        return {Way::Message, QStringLiteral("抓图已停止：网页不停留在滚动到的位置")};
    case Ending::Changed:
        qCWarning(lcMorvane) << "page capture stopped: the page keeps undoing the capture's "
                                "changes";
        return {Way::Message, QStringLiteral("抓图已停止：网页不断撤销抓图对它的调整")};
    case Ending::NoAnswer:
        qCWarning(lcMorvane) << "page capture ended: the page did not answer";
        return {Way::Message, QStringLiteral("抓图失败：网页没有应答")};
    case Ending::TooLarge:
        qCInfo(lcMorvane) << "page capture refused: the page is too large for one image"
                          << result->size;
        return {Way::Message,
                QStringLiteral("网页太大，无法抓图（最多 %1 像素）").arg(kMaxPagePixels)};
    case Ending::NoMemory:
        qCWarning(lcMorvane) << "page capture ended: no memory for a page image of" << result->size;
        return {Way::Report, QStringLiteral("内存不足，无法存放整个网页的图像")};
    }
    return {};
}

QString savePage(const WebCaptureContext& context, const QImage& page) {
    context.clipboard->setImage(page);
    // A page's file is named "temp" and a number only; the routine logs why one could not be
    // written.
    const CaptureFileResult result = writeCaptureFile(context.saveFolder(), QString(), page);
    if (context.report) {
        context.report(CaptureOutcome::of(result));
    }
    return result.written() ? result.path : QString();
}

QString pageSavedMessage(const QString& path) {
    // One pass from the left, without overlaps: "///" shows as "//".
    QString shown = path;
    shown.replace(QLatin1String("//"), QLatin1String("/"));
    return QStringLiteral("完成抓图\r\n输出到") + shown;
}

} // namespace morvane
