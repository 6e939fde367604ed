#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace morvane {

// An uncompressed, bottom-up Windows bitmap with 24 bits per pixel: a 14-byte file header,
// a 40-byte info header, then the rows from the bottom up, each padded to 4 bytes.
QByteArray encodeBmp24(const QImage& image);

// Creates path exclusively and writes the image into it as encodeBmp24 does. An existing
// entry is never touched: false with errno EEXIST. Any other failure (missing or read-only
// folder, full disk) removes the partly written file and gives false with errno set.
bool writeNewBmp24(const QString& path, const QImage& image);

// Writes the image as encodeBmp24 does to path, replacing a file that is there. The bytes go
// to a new file in the same folder first, which is then renamed over path, so a write that
// fails (read-only folder, full disk) never destroys or truncates the file that was there:
// false with errno set, and the new file is removed. A path that is a symbolic link is
// written through the link. A replaced file keeps its permissions.
bool replaceWithBmp24(const QString& path, const QImage& image);

} // namespace morvane
