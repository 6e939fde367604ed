#pragma once

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

// The uncompressed, bottom-up 24-bit bitmap file of a picture, byte for byte as the
// program must write it: a 14-byte file header, a 40-byte info header (96 DPI), then the
// rows from the bottom up in blue, green, red, each padded with zeros to 4 bytes. 32-bit
// pixels are taken as they are, alpha ignored; other formats as Qt converts them to 32 bits.
// Written here field by field, sharing nothing with the program's writer, so that the
// tests hold the program's files against something other than themselves.
inline QByteArray referenceBmp24(const QImage& picture) {
    const QImage image =
        picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
            ? picture
            : picture.convertToFormat(QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    const int stride = (width * 3 + 3) / 4 * 4;
    QByteArray bytes(54, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    qToLittleEndian<quint32>(static_cast<quint32>(54 + stride * height), bytes.data() + 2);
    qToLittleEndian<quint32>(54, bytes.data() + 10);
    qToLittleEndian<quint32>(40, bytes.data() + 14);
    qToLittleEndian<qint32>(width, bytes.data() + 18);
    qToLittleEndian<qint32>(height, bytes.data() + 22); // positive: bottom-up
    qToLittleEndian<quint16>(1, bytes.data() + 26);
    qToLittleEndian<quint16>(24, bytes.data() + 28);
    qToLittleEndian<quint32>(static_cast<quint32>(stride * height), bytes.data() + 34);
    qToLittleEndian<quint32>(3780, bytes.data() + 38); // pixels per metre
    qToLittleEndian<quint32>(3780, bytes.data() + 42);
    bytes.reserve(54 + qsizetype{stride} * height);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = image.pixel(x, y);
            bytes.append(static_cast<char>(qBlue(pixel)));
            bytes.append(static_cast<char>(qGreen(pixel)));
            bytes.append(static_cast<char>(qRed(pixel)));
        }
        bytes.append(stride - width * 3, '\0');
    }
    return bytes;
}

// A 24-bit bitmap file of the pattern picture.
inline QByteArray patternBmp(int width, int height) {
    return referenceBmp24(patternPicture(width, height));
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
