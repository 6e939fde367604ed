#pragma once

#include "capture/CaptureOutcome.h"

#include <QString>

namespace morvane {

// What the user is told of an outcome that left no file written: a title and a text for
// the notifier.
struct Announcement {
    QString title;
    QString text;
};

// The announcement of an outcome other than Saved. A request without a picture says why. A
// file not written names its folder (a capture's is the save folder as the user typed it,
// saveFolder; another write's, such as the crop editor's, the file's own) and why: in the
// program's own words for the usual reasons (the folder, looked at now, is missing or not
// writable), the system's for the rest; and it says whether the picture is on the clipboard.
Announcement announcementOf(const CaptureOutcome& outcome, const QString& saveFolder);

} // namespace morvane
