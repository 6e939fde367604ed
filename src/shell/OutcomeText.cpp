#include "OutcomeText.h"

#include <QFileInfo>

namespace morvane {

Announcement announcementOf(const CaptureOutcome& outcome, const QString& saveFolder) {
    if (outcome.kind == CaptureOutcome::Kind::NoPicture) {
        return {QStringLiteral("抓图失败"), outcome.reason + QStringLiteral("。")};
    }
    if (outcome.kind == CaptureOutcome::Kind::Hint) {
        return {QStringLiteral("提示"), outcome.reason};
    }
    // Another write than a capture's (the crop editor's, whose picture is not on the
    // clipboard) names its own folder.
    const bool capture =
        outcome.onClipboard && (outcome.path.isEmpty() || outcome.path.startsWith(saveFolder));
    const QString folder = capture ? saveFolder : QFileInfo(outcome.path).path();
    const QFileInfo info(folder);
    QString why = outcome.reason;
    if (why != CaptureOutcome::kNoFreeName) {
        if (!info.isDir()) {
            why = QStringLiteral("文件夹不存在");
        } else if (!info.isWritable()) {
            why = QStringLiteral("文件夹不可写入");
        } else if (why.isEmpty()) {
            why = QStringLiteral("写入失败");
        }
    }
    const QString kept = outcome.onClipboard ? QStringLiteral("图片已在剪贴板上。") : QString();
    return {QStringLiteral("截图未保存"),
            QStringLiteral("无法写入文件夹 %1：%2。%3").arg(folder, why, kept)};
}

} // namespace morvane
