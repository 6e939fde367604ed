#pragma once

#include "webcapture/PageCapture.h"
#include "webcapture/WebModule.h"

#include <QString>
#include <optional>

namespace morvane {

// How the browser window tells how a page capture ended: the Part-style message boxes for
// the page's own failures, a report from the tray icon for what the program could not do,
// nothing for a cancel. The text is the message or the report's reason.
struct PageNotice {
    enum class Way { None, Message, Report };
    Way way = Way::None;
    QString text;
};

// The notice for a capture that ended without an image (logged here); nothing for the result
// means that the page has no element that scrolls.
PageNotice noticeFor(const std::optional<PageCaptureResult>& result);

// Puts the page image on the clipboard and writes it as the next "temp" file of the save
// folder, reporting the outcome; the path written, or empty when nothing was.
QString savePage(const WebCaptureContext& context, const QImage& page);

// The message that tells where the page was written.
QString pageSavedMessage(const QString& path);

} // namespace morvane
