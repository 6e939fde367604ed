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

// Why a picture could not be read, in the user's words.
namespace picture_reasons {
inline const QString kMissing = QStringLiteral("文件不存在");
inline const QString kNotAFile = QStringLiteral("不是普通文件");
inline const QString kCutShort = QStringLiteral("文件不完整");
inline const QString kTooLarge = QStringLiteral("图片太大");
inline const QString kNotAPicture = QStringLiteral("不是可以打开的图片");
} // namespace picture_reasons

// Reads a picture file for the crop editor. A null image when the file cannot be read or is
// not a picture: also when it is larger than the limits above (checked on the header, before
// any pixels are decoded) or a Windows bitmap whose pixel data is cut short. When given,
// opened receives the identity of the file that was read, and why, for a null image, one of
// the reasons above or the system's words for a file that would not open.
QImage loadPicture(const QString& path, FileIdentity* opened = nullptr, QString* why = nullptr);

// The same for a picture already open for reading; the format is decided by the content.
QImage decodePicture(QIODevice& device, QString* why = nullptr);

// Whether the start of a file of fileSize bytes is a Windows bitmap header ("BM") whose
// uncompressed pixel data (or declared compressed data) would run past the end of the file.
bool bmpCutShort(const QByteArray& head, qint64 fileSize);

} // namespace morvane
