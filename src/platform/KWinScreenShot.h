#pragma once

#include <QImage>
#include <QRect>
#include <QString>

namespace morvane {

// What one of KWin's screenshots gave: the picture (QImage::Format_RGB32, in KWin's logical
// pixels), or the reason there is none, in words for the user.
struct KWinShot {
    QImage image;
    QString refusal;
};

// KWin's screenshot interface (org.kde.KWin.ScreenShot2). KWin serves it only to a program
// whose desktop file names the interface and whose Exec= is the running binary's absolute
// path; a refusal says so, naming this binary. Each call waits for KWin's reply and its
// pixels for at most a few seconds, on the calling thread, without running an event loop.
namespace kwinScreenShot {

// The pixels inside the area of the workspace, as the screen shows them.
KWinShot area(QRect area);
// The window's own pixels, its server-side decoration included, whatever covers it.
KWinShot window(const QString& internalId);

// The refusal text for a reply's error, for the tests and the log. Empty for success.
QString refusalFor(const QString& errorName, const QString& errorMessage);

} // namespace kwinScreenShot

} // namespace morvane
