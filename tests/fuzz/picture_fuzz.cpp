// Feeds the crop editor's picture loader mutated bitmap files: a bounded, repeatable run
// (the same inputs every time) built with the address and undefined-behaviour sanitizers.
// Every input must end as "not a picture" or as a picture within the loader's limits;
// anything else, or a sanitizer report, fails the run.
//
//   picture_fuzz [COUNT [SEED]]
#include "editor/PictureLoader.h"
#include "support/Pictures.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QtEndian>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace morvane;

namespace {

// xorshift64*: small, fast, and the same sequence on every machine.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed ? seed : 1) {}
    std::uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1DULL;
    }
    // A number in 0 .. bound - 1 (bound > 0).
    qsizetype below(qsizetype bound) {
        return static_cast<qsizetype>(next() % static_cast<std::uint64_t>(bound));
    }

private:
    std::uint64_t state_;
};

QByteArray saved(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

// A bitmap with a 40-byte info header and the given pixel data.
QByteArray handMade(qint32 width, qint32 height, quint16 bits, quint32 compression,
                    const QByteArray& palette, const QByteArray& data) {
    QByteArray bytes(54, '\0');
    char* h = bytes.data();
    h[0] = 'B';
    h[1] = 'M';
    const auto offset = static_cast<quint32>(54 + palette.size());
    qToLittleEndian<quint32>(offset + static_cast<quint32>(data.size()), h + 2);
    qToLittleEndian<quint32>(offset, h + 10);
    qToLittleEndian<quint32>(40, h + 14);
    qToLittleEndian<qint32>(width, h + 18);
    qToLittleEndian<qint32>(height, h + 22);
    qToLittleEndian<quint16>(1, h + 26);
    qToLittleEndian<quint16>(bits, h + 28);
    qToLittleEndian<quint32>(compression, h + 30);
    qToLittleEndian<quint32>(static_cast<quint32>(data.size()), h + 34);
    qToLittleEndian<quint32>(static_cast<quint32>(palette.size() / 4), h + 46);
    return bytes + palette + data;
}

std::vector<QByteArray> seeds() {
    QImage colour(13, 7, QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y) {
        for (int x = 0; x < colour.width(); ++x) {
            colour.setPixel(x, y, qRgb(x * 19, y * 37, (x ^ y) * 11));
        }
    }
    QByteArray grey;
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        grey += QByteArray(3, c) + '\0';
    }
    // Run-length encoded: runs, a literal run, end of line, a jump, end of picture.
    const QByteArray rle8("\x05\x10\x00\x03\x01\x02\x03\x00\x00\x00\x00\x00\x02\x01\x01"
                          "\x04\x20\x00\x01",
                          19);
    const QByteArray rle4("\x06\x12\x00\x04\x12\x34\x00\x00\x00\x01", 10);
    // 16-bit with bit fields (5-6-5) after the header.
    QByteArray masks(12, '\0');
    qToLittleEndian<quint32>(0xf800, masks.data());
    qToLittleEndian<quint32>(0x07e0, masks.data() + 4);
    qToLittleEndian<quint32>(0x001f, masks.data() + 8);
    return {
        test::referenceBmp24(colour),
        saved(colour.convertToFormat(QImage::Format_ARGB32)),
        saved(colour.convertToFormat(QImage::Format_Indexed8)),
        saved(colour.convertToFormat(QImage::Format_Mono)),
        handMade(8, 4, 8, 1, grey, rle8),
        handMade(8, 2, 4, 2, grey.left(64), rle4),
        handMade(4, -3, 16, 3, masks, QByteArray(24, '\x5a')),
        handMade(3, 3, 32, 0, {}, QByteArray(36, '\x7f')),
    };
}

// Values that make header arithmetic go wrong.
constexpr std::array<quint32, 12> kInteresting{
    0, 1, 2, 12, 40, 54, 0x7fff, 0x8000, 0xffff, 0x7fffffff, 0x80000000, 0xffffffff};
// Where the header fields lie: sizes, offset, sides, planes, bits, compression, counts.
constexpr std::array<qsizetype, 11> kFields{2, 10, 14, 18, 20, 22, 26, 28, 30, 34, 46};

QByteArray mutated(const QByteArray& seed, Random& random) {
    QByteArray bytes = seed;
    const qsizetype steps = 1 + random.below(4);
    for (qsizetype step = 0; step < steps; ++step) {
        switch (random.below(7)) {
        case 0: // flip a bit
            if (!bytes.isEmpty()) {
                bytes[random.below(bytes.size())] ^= static_cast<char>(1 << random.below(8));
            }
            break;
        case 1: // set a byte
            if (!bytes.isEmpty()) {
                bytes[random.below(bytes.size())] = static_cast<char>(random.next());
            }
            break;
        case 2:
        case 3: { // an awkward value in a header field
            const qsizetype at = kFields[static_cast<size_t>(random.below(kFields.size()))];
            if (at + 4 <= bytes.size()) {
                const quint32 value =
                    kInteresting[static_cast<size_t>(random.below(kInteresting.size()))];
                if (random.below(2)) {
                    qToLittleEndian<quint16>(static_cast<quint16>(value), bytes.data() + at);
                } else {
                    qToLittleEndian<quint32>(value, bytes.data() + at);
                }
            }
            break;
        }
        case 4: // cut short
            bytes.truncate(random.below(bytes.size() + 1));
            break;
        case 5: // grow
            for (qsizetype n = random.below(64); n > 0; --n) {
                bytes += static_cast<char>(random.next());
            }
            break;
        default: // drop a byte, shifting the rest
            if (!bytes.isEmpty()) {
                bytes.remove(random.below(bytes.size()), 1);
            }
            break;
        }
    }
    return bytes;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The readers' complaints about broken files are expected by the thousand; only the
    // run's own verdict is printed.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
            std::abort();
        }
    });
    const QStringList args = QCoreApplication::arguments();
    const int count = args.size() > 1 ? args[1].toInt() : 50000;
    const auto seed = args.size() > 2 ? args[2].toULongLong() : 0x5eedULL;

    const std::vector<QByteArray> bases = seeds();
    for (const QByteArray& base : bases) {
        QBuffer buffer;
        buffer.setData(base);
        buffer.open(QIODevice::ReadOnly);
        if (decodePicture(buffer).isNull()) {
            std::fprintf(stderr, "a well-formed seed (%lld bytes) was not read\n",
                         static_cast<long long>(base.size()));
            return 1;
        }
    }

    Random random(seed);
    int pictures = 0;
    for (int i = 0; i < count; ++i) {
        // Mostly mutated bitmaps; now and then bytes with no structure at all.
        QByteArray input;
        if (random.below(16) == 0) {
            for (qsizetype n = random.below(256); n > 0; --n) {
                input += static_cast<char>(random.next());
            }
        } else {
            input = mutated(
                bases[static_cast<size_t>(random.below(static_cast<qsizetype>(bases.size())))],
                random);
        }
        QBuffer buffer;
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly);
        const QImage image = decodePicture(buffer);
        if (image.isNull()) {
            continue;
        }
        ++pictures;
        const qint64 bytes = qint64{image.width()} * image.height() * 4;
        if (image.width() > kMaxPictureSide || image.height() > kMaxPictureSide ||
            bytes > kMaxPictureBytes || bmpCutShort(input.left(54), input.size())) {
            std::fprintf(stderr, "input %d gave a %d x %d picture beyond the limits\n", i,
                         image.width(), image.height());
            return 1;
        }
    }
    std::printf("%d inputs, %d read as pictures, %d refused\n", count, pictures, count - pictures);
    return 0;
}
