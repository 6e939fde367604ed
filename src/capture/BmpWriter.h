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

} // namespace morvane
