#pragma once

#include "capture/BmpWriter.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>
#include <QtEndian>

namespace morvane::test {

// A picture in which every pixel up to 4095 x 4095 has its own colour, so a crop shows
// exactly where it was cut from.
inline QRgb patternPixel(int x, int y) {
    return qRgb(x & 0xff, y & 0xff, ((x >> 8) & 0x0f) | ((y >> 8) & 0x0f) << 4);
}

inline QImage patternPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, patternPixel(x, y));
        }
    }
    return image;
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A 24-bit bitmap file of the pattern picture.
inline QByteArray patternBmp(int width, int height) {
    return encodeBmp24(patternPicture(width, height));
}

// A bitmap whose header claims width x height pixels while holding only a few bytes.
inline QByteArray bmpClaiming(qint32 width, qint32 height) {
    QByteArray bytes = patternBmp(4, 4);
    qToLittleEndian<qint32>(width, bytes.data() + 18);
    qToLittleEndian<qint32>(height, bytes.data() + 22);
    return bytes;
}

// A decoded bitmap in 32-bit pixels, for comparing with what was written.
inline QImage decodedBmp(const QByteArray& bytes) {
    return QImage::fromData(bytes, "BMP").convertToFormat(QImage::Format_RGB32);
}

} // namespace morvane::test
