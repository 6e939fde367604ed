#pragma once

#include <QImage>
#include <QString>

class QIODevice;

namespace morvane {

// Writes the image to a device open for writing as an uncompressed, bottom-up Windows bitmap
// with 24 bits per pixel: a 14-byte file header, a 40-byte info header, then the rows from
// the bottom up, each padded to 4 bytes. 32-bit pixels are written as they are, alpha
// ignored; other formats are converted to 32 bits first. The rows go out in pieces of about
// 8 MiB, so that a page many screens tall needs no second copy of its size. False when the
// device refused a piece; its error string says why.
bool writeBmp24(QIODevice& out, const QImage& image);

// Writes the image as writeBmp24 does to path, replacing a file that is there, as
// replaceFile does (ReplaceFile.h): a write that fails (read-only folder, full disk) never
// destroys or truncates the file that was there, and leaves no new file. A path that is a
// symbolic link is written through the link. A replaced file keeps its permissions. Every
// failure is logged.
bool replaceWithBmp24(const QString& path, const QImage& image);

} // namespace morvane
