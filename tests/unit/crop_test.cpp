#include "capture/BmpWriter.h"
#include "capture/ReplaceFile.h"
#include "editor/CropGeometry.h"
#include "editor/FileDialogs.h"
#include "editor/Folders.h"
#include "editor/PictureLoader.h"
#include "support/Pictures.h"

#include <QBuffer>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

using namespace morvane;
using namespace morvane::test;

TEST(CropSelection, FourStrictTestsInTwips) {
    // 15 twips is one pixel at 96 DPI: refused; anything longer passes.
    EXPECT_FALSE(selectionAccepted(15.0f, 30.0f, 9600.0f, 7200.0f));
    EXPECT_FALSE(selectionAccepted(30.0f, 15.0f, 9600.0f, 7200.0f));
    EXPECT_TRUE(selectionAccepted(30.0f, 30.0f, 9600.0f, 7200.0f));
    EXPECT_TRUE(selectionAccepted(15.5f, 15.5f, 9600.0f, 7200.0f));
    EXPECT_FALSE(selectionAccepted(0.0f, 0.0f, 9600.0f, 7200.0f));
    // The full width or height of the picture area is refused, one twip less is not.
    EXPECT_FALSE(selectionAccepted(9600.0f, 30.0f, 9600.0f, 7200.0f));
    EXPECT_FALSE(selectionAccepted(30.0f, 7200.0f, 9600.0f, 7200.0f));
    EXPECT_TRUE(selectionAccepted(9599.0f, 7199.0f, 9600.0f, 7200.0f));
}

TEST(CropSelection, WorkedExampleAt96Dpi) {
    // A press at (150, 300) twips and a last move to (1650, 1050): 1500 x 750 twips.
    const auto clip = clipRectangle(150.0f, 300.0f, 1650.0f - 150.0f, 1050.0f - 300.0f,
                                    twipsPerPixelForDpi(96, 96));
    ASSERT_TRUE(clip);
    EXPECT_EQ(*clip, QRect(10, 20, 100, 50));
}

TEST(CropSelection, QuotientsRoundHalfToEvenPerAxis) {
    const TwipsPerPixel uneven = twipsPerPixelForDpi(120, 144); // 12 and 10 twips per pixel
    // 30 / 12 = 2.5 -> 2; 42 / 12 = 3.5 -> 4; 25 / 10 = 2.5 -> 2; 35 / 10 = 3.5 -> 4
    const auto clip = clipRectangle(30.0f, 25.0f, 42.0f, 35.0f, uneven);
    ASSERT_TRUE(clip);
    EXPECT_EQ(*clip, QRect(2, 2, 4, 4));
    EXPECT_EQ(roundToInt16(-2.5), std::int16_t{-2});
    EXPECT_EQ(roundToInt16(0.4999), std::int16_t{0});
}

TEST(CropSelection, QuotientOutsideSixteenBitsFails) {
    EXPECT_EQ(roundToInt16(32767.0), std::int16_t{32767});
    EXPECT_EQ(roundToInt16(32767.4), std::int16_t{32767});
    EXPECT_FALSE(roundToInt16(32767.5)); // rounds to 32768
    EXPECT_EQ(roundToInt16(-32768.5), std::int16_t{-32768});
    EXPECT_FALSE(roundToInt16(-32769.0));
    EXPECT_FALSE(roundToInt16(std::nan("")));
    // A selection whose left edge lies past pixel 32767 cannot be cut.
    const TwipsPerPixel tpp = twipsPerPixelForDpi(96, 96);
    EXPECT_FALSE(clipRectangle(32768.0f * 15.0f, 0.0f, 30.0f, 30.0f, tpp));
    EXPECT_TRUE(clipRectangle(32767.0f * 15.0f, 0.0f, 30.0f, 30.0f, tpp));
    // A screen that reports no twips per pixel gives no rectangle rather than a division.
    EXPECT_FALSE(clipRectangle(30.0f, 30.0f, 30.0f, 30.0f, TwipsPerPixel{0.0, 0.0}));
}

TEST(CropContainerLayout, SaveButtonsFollowTheOuterWidth) {
    // Outer width 8400 twips, buttons 855 wide: "另存为" at 8400 - 855 - 300, "保存" 100 before.
    SaveButtonLefts lefts = saveButtonLefts(8400.0f, 855.0f, 855.0f);
    EXPECT_FLOAT_EQ(lefts.saveTo, 7245.0f);
    EXPECT_FLOAT_EQ(lefts.save, 6290.0f);
    // Narrower than the buttons: negative, and nothing else.
    lefts = saveButtonLefts(900.0f, 855.0f, 855.0f);
    EXPECT_FLOAT_EQ(lefts.saveTo, -255.0f);
    EXPECT_FLOAT_EQ(lefts.save, -1210.0f);
}

TEST(CropFileDialogs, BitmapFilterMatchesAnyLetterCase) {
    const QString filter = qtNameFilter(kBitmapFilter);
    ASSERT_TRUE(filter.startsWith(QStringLiteral("*.BMP (")));
    const QString pattern = filter.mid(7, filter.size() - 8);
    const QRegularExpression matcher(QRegularExpression::wildcardToRegularExpression(pattern));
    for (const char* name : {"a.BMP", "a.bmp", "b.Bmp", "c.bMp"}) {
        EXPECT_TRUE(matcher.match(QString::fromLatin1(name)).hasMatch()) << name;
    }
    for (const char* name : {"a.png", "a.bmpx", "bmp"}) {
        EXPECT_FALSE(matcher.match(QString::fromLatin1(name)).hasMatch()) << name;
    }
}

namespace {

QImage decode(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return decodePicture(buffer);
}

// Why the bytes are no picture the editor opens; empty when they are one.
QString refusal(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QString why;
    return decodePicture(buffer, &why).isNull() ? why : QString();
}

} // namespace

TEST(CropPictureLoader, ReadsBitmapsAndOtherPictures) {
    const QImage bmp = decode(patternBmp(37, 11));
    ASSERT_FALSE(bmp.isNull());
    EXPECT_EQ(bmp.convertToFormat(QImage::Format_RGB32), patternPicture(37, 11));
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    patternPicture(5, 6).save(&out, "PNG");
    EXPECT_EQ(decode(png).size(), QSize(5, 6));
    // Top-down rows (negative height) are a bitmap too.
    QByteArray topDown = patternBmp(3, 2);
    qToLittleEndian<qint32>(-2, topDown.data() + 22);
    EXPECT_EQ(decode(topDown).size(), QSize(3, 2));
}

TEST(CropPictureLoader, HostileFilesAreNotPictures) {
    const QByteArray whole = patternBmp(40, 30);
    EXPECT_TRUE(decode(whole.left(whole.size() - 1)).isNull()) << "one byte short";
    EXPECT_TRUE(decode(whole.left(60)).isNull());
    EXPECT_TRUE(decode(whole.left(20)).isNull()) << "headers cut off";
    EXPECT_TRUE(decode(QByteArray("BM")).isNull());
    EXPECT_TRUE(decode(QByteArray()).isNull());
    EXPECT_TRUE(decode(bmpClaiming(100000, 100000)).isNull());
    EXPECT_TRUE(decode(bmpClaiming(100000, -100000)).isNull());
    EXPECT_TRUE(decode(bmpClaiming(-5, 4)).isNull());
    EXPECT_TRUE(decode(bmpClaiming(0x7fffffff, 1)).isNull());
    QByteArray noise(4096, Qt::Uninitialized);
    for (qsizetype i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<char>((i * 7919 + 13) % 251);
    }
    EXPECT_TRUE(decode(noise).isNull());
    noise[0] = 'B';
    noise[1] = 'M';
    EXPECT_TRUE(decode(noise).isNull());
}

TEST(CropPictureLoader, EachRefusalSaysWhy) {
    using namespace picture_reasons;
    const QByteArray whole = patternBmp(40, 30);
    const struct {
        const char* name;
        QByteArray bytes;
        QString why;
    } cases[] = {
        {"one byte short", whole.chopped(1), kCutShort},
        {"headers cut off", whole.left(20), kCutShort},
        {"noise", QByteArray(64, 'x'), kNotAPicture},
        {"empty", QByteArray(), kNotAPicture},
        {"whole and too wide", patternBmp(32768, 1), kTooLarge},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refusal(c.bytes), c.why) << c.name;
    }
    EXPECT_EQ(refusal(whole), QString());
}

TEST(CropPictureLoader, PictureOverTheSizeLimitIsRefusedFromItsHeader) {
    // 16384 x 4097 pixels are a little over 256 MiB decoded; the file holds them all, but
    // the header alone decides.
    EXPECT_FALSE(bmpCutShort(bmpClaiming(16384, 4097), qint64{16384} * 3 * 4097 + 54));
    EXPECT_TRUE(decode(bmpClaiming(16384, 4097)).isNull());
    EXPECT_TRUE(decode(bmpClaiming(32768, 1)).isNull()) << "wider than any window";
    EXPECT_TRUE(decode(patternBmp(32768, 1)).isNull()) << "whole, and still too wide";
    EXPECT_EQ(decode(patternBmp(32767, 1)).size(), QSize(32767, 1)) << "the widest a window is";
}

TEST(CropPictureLoader, FilesThatAreNotRegularAreRefused) {
    QTemporaryDir dir;
    QString why;
    EXPECT_TRUE(loadPicture(dir.path(), nullptr, &why).isNull());
    EXPECT_EQ(why, picture_reasons::kNotAFile);
    EXPECT_TRUE(loadPicture(dir.filePath(QStringLiteral("missing.bmp")), nullptr, &why).isNull());
    EXPECT_EQ(why, picture_reasons::kMissing);
    const QString fifo = dir.filePath(QStringLiteral("pipe.bmp"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_TRUE(loadPicture(fifo, nullptr, &why).isNull()); // and does not wait for a writer
    EXPECT_EQ(why, picture_reasons::kNotAFile);
    const QString good = dir.filePath(QStringLiteral("good.BMP"));
    ASSERT_TRUE(writeFile(good, patternBmp(8, 8)));
    EXPECT_EQ(loadPicture(good).size(), QSize(8, 8));
}

TEST(CropSaving, ReplacesTheFileAndLeavesNothingElse) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.bmp"));
    ASSERT_TRUE(writeFile(path, QByteArray(100000, 'x')));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    const QImage crop = patternPicture(100, 50).copy(10, 20, 30, 7);
    ASSERT_TRUE(replaceWithBmp24(path, crop));
    EXPECT_EQ(fileBytes(path), referenceBmp24(crop));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "a replaced file keeps its permissions";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("picture.bmp")});
}

TEST(CropSaving, WritesThroughALinkAndRefusesWhatCannotBeAFile) {
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.bmp"));
    const QString link = dir.filePath(QStringLiteral("link.bmp"));
    ASSERT_TRUE(writeFile(real, "old"));
    ASSERT_TRUE(QFile::link(real, link));
    const QImage crop = patternPicture(3, 3);
    ASSERT_TRUE(replaceWithBmp24(link, crop));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(fileBytes(real), referenceBmp24(crop));

    // A folder in the way, a missing folder and an empty crop: false, and nothing left over.
    const QString folder = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_FALSE(replaceWithBmp24(folder, crop));
    EXPECT_FALSE(replaceWithBmp24(dir.filePath(QStringLiteral("none/x.bmp")), crop));
    EXPECT_FALSE(replaceWithBmp24(real, QImage()));
    EXPECT_EQ(fileBytes(real), referenceBmp24(crop));
    EXPECT_EQ(
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
        3);
}

// "保存" in a folder another user may write to: that user keeps exchanging the opened file
// with a link to a private file of ours while we save, round after round.
TEST(CropSaving, ALinkSwappedInDuringTheSaveNeverLetsTheCropReachItsTarget) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("shared")));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("private")));
    const QString secret = dir.filePath(QStringLiteral("private/secret.bmp"));
    const QString opened = dir.filePath(QStringLiteral("shared/shot.bmp"));
    const QString decoy = dir.filePath(QStringLiteral("shared/decoy.bmp"));
    ASSERT_TRUE(writeFile(secret, "private"));
    ASSERT_TRUE(writeFile(opened, patternBmp(40, 30)));
    ASSERT_TRUE(QFile::link(secret, decoy));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(opened).constData(), &info), 0);
    FileIdentity identity{info.st_dev, info.st_ino};

    std::atomic<bool> stop = false;
    std::atomic<int> swaps = 0;
    std::thread swapper([&] {
        const QByteArray a = QFile::encodeName(opened);
        const QByteArray b = QFile::encodeName(decoy);
        while (!stop) {
            if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) ==
                0) {
                ++swaps;
            }
        }
    });
    const QImage crop = patternPicture(40, 30).copy(5, 5, 20, 10);
    for (int round = 0; round < 400; ++round) {
        const ReplaceResult result = replaceFile(
            opened, [&](QIODevice& out) { return writeBmp24(out, crop); }, identity);
        if (result.replaced()) {
            identity = result.identity; // as the editor does: the next save replaces this one
        } else {
            EXPECT_EQ(result.outcome, ReplaceResult::Outcome::TargetChanged)
                << result.error.toStdString();
        }
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(fileBytes(secret), QByteArray("private"));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("private"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("secret.bmp")});
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("shared")))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              QStringList({QStringLiteral("decoy.bmp"), QStringLiteral("shot.bmp")}))
        << "no new file left behind";
    EXPECT_GT(swaps, 100) << "the swapper hardly ran";
}

TEST(FolderPickerPaths, DriveIsTheLongestMountedPrefix) {
    const QStringList drives{QStringLiteral("/"), QStringLiteral("/dev/shm"),
                             QStringLiteral("/dev")};
    EXPECT_EQ(driveOf(QStringLiteral("/dev/shm/a/b"), drives), QStringLiteral("/dev/shm"));
    EXPECT_EQ(driveOf(QStringLiteral("/dev/shm"), drives), QStringLiteral("/dev/shm"));
    EXPECT_EQ(driveOf(QStringLiteral("/dev/shmem"), drives), QStringLiteral("/dev"));
    EXPECT_EQ(driveOf(QStringLiteral("/home"), drives), QStringLiteral("/"));
    EXPECT_TRUE(mountedDrives().contains(QStringLiteral("/")));
}

TEST(FolderPickerPaths, NearestExistingFolderAboveAText) {
    QTemporaryDir dir;
    const QString base = QDir::cleanPath(dir.path());
    ASSERT_TRUE(writeFile(base + QStringLiteral("/file"), "x"));
    EXPECT_EQ(nearestExistingFolder(base + QStringLiteral("/file")), base);
    EXPECT_EQ(nearestExistingFolder(base + QStringLiteral("/gone/deeper/")), base);
    EXPECT_EQ(nearestExistingFolder(QStringLiteral("/no-such-folder-here/x")), QStringLiteral("/"));
}
