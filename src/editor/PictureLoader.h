#pragma once

#include "capture/ReplaceFile.h"

#include <QByteArray>
#include <QImage>
#include <QString>

class QIODevice;

namespace morvane {

// The largest picture the crop editor opens: each side at most 32767 pixels (an X window
// and a clip rectangle cannot be larger) and at most 256 MiB of 32-bit pixels once decoded.
inline constexpr int kMaxPictureSide = 32767;
inline constexpr qint64 kMaxPictureBytes = qint64{256} << 20;

// Reads a picture file for the crop editor. A null image when the file cannot be read or is
// not a picture: also when it is larger than the limits above (checked on the header, before
// any pixels are decoded) or a Windows bitmap whose pixel data is cut short. When given,
// opened receives the identity of the file that was read.
QImage loadPicture(const QString& path, FileIdentity* opened = nullptr);

// The same for a picture already open for reading; the format is decided by the content.
QImage decodePicture(QIODevice& device);

// Whether the start of a file of fileSize bytes is a Windows bitmap header ("BM") whose
// uncompressed pixel data (or declared compressed data) would run past the end of the file.
bool bmpCutShort(const QByteArray& head, qint64 fileSize);

} // namespace morvane
