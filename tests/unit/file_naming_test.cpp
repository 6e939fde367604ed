#include "capture/BmpWriter.h"
#include "capture/CaptureFile.h"
#include "capture/FileNaming.h"
#include "support/Pictures.h"

#include <QBuffer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace morvane;

namespace {

std::function<bool(const QString&)> takenFrom(const QSet<QString>& names) {
    return [names](const QString& name) { return names.contains(name); };
}

void touch(const QString& path, const QByteArray& bytes = "x") {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::uint32_t le32(const QByteArray& b, int at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint16_t le16(const QByteArray& b, int at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      static_cast<unsigned char>(b[at + 1]) << 8);
}

} // namespace

class CleanedTitle : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(CleanedTitle, RemovesOnlyTheForbiddenCharacters) {
    EXPECT_EQ(CleanTitle(QString::fromUtf8(GetParam().first)).toStdString(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, CleanedTitle,
    ::testing::Values(
        std::pair{"a:b*c?d", "abcd"}, std::pair{"tab\there", "tabhere"},
        std::pair{"\\/:*?\"<>|\t", ""},
        std::pair{"  spaces. dots 中文 (x) [y] ~ ", "  spaces. dots 中文 (x) [y] ~ "},
        std::pair{"http://example.org/a?b=1", "httpexample.orgab=1"},
        // Escape sequences, line breaks and every other control character go too.
        std::pair{"\x1b[31mred\x1b[0m", "[31mred[0m"}, std::pair{"two\nlines\r", "twolines"},
        std::pair{"\x01z\x1f\x7f", "z"}, std::pair{"~ \u00a0é€", "~ \u00a0é€"},
        std::pair{"c1\u0080\u0085\u009f.", "c1."},
        // Marks and overrides that reorder what is shown, and line separators.
        std::pair{"photo\u202egnp.exe", "photognp.exe"},
        std::pair{"\u202a\u202b\u202c\u202d\u2066\u2067\u2068\u2069x", "x"},
        std::pair{"a\u200eb\u200fc\u061cd", "abcd"}, std::pair{"l\u2028p\u2029", "lp"},
        std::pair{"\u200d\u00ad\u3000", "\u200d\u00ad\u3000"},
        // A name would be hidden by a leading dot: every leading dot goes, once the rest has.
        std::pair{".", ""}, std::pair{"..hidden.x", "hidden.x"}, std::pair{":.x", "x"},
        std::pair{"\u202e.x", "x"}, std::pair{" .x", " .x"}));

TEST(CaptureFileName, LowestFreeNumberWins) {
    EXPECT_EQ(MakeCaptureFileName(QStringLiteral("abcd"), takenFrom({})),
              QStringLiteral("abcdtemp1.bmp"));
    EXPECT_EQ(MakeCaptureFileName(QString(), takenFrom({})), QStringLiteral("temp1.bmp"));
    EXPECT_EQ(MakeCaptureFileName(QStringLiteral("X"), takenFrom({QStringLiteral("Xtemp1.bmp"),
                                                                  QStringLiteral("Xtemp2.bmp")})),
              QStringLiteral("Xtemp3.bmp"));
    EXPECT_EQ(MakeCaptureFileName(QStringLiteral("X"), takenFrom({QStringLiteral("Xtemp2.bmp")})),
              QStringLiteral("Xtemp1.bmp"));
    EXPECT_EQ(MakeCaptureFileName(QStringLiteral(" X "), takenFrom({})),
              QStringLiteral(" X temp1.bmp"));
    // Other titles' files and other letter cases do not take a number.
    EXPECT_EQ(MakeCaptureFileName(QStringLiteral("X"), takenFrom({QStringLiteral("temp1.bmp"),
                                                                  QStringLiteral("xtemp1.bmp"),
                                                                  QStringLiteral("Xtemp1.BMP")})),
              QStringLiteral("Xtemp1.bmp"));
}

TEST(CaptureFileName, OverlongTitleIsShortenedAtACharacterBoundary) {
    // 100 three-byte characters: 300 bytes, more than a file name may hold.
    const QString title(100, QChar(0x4E2D));
    const QString name = captureFileName(title, 7);
    const QByteArray bytes = name.toUtf8();
    EXPECT_LE(bytes.size(), 255);
    EXPECT_TRUE(name.endsWith(QStringLiteral("temp7.bmp")));
    EXPECT_EQ(QString::fromUtf8(bytes), name) << "cut inside a character";
    EXPECT_EQ(bytes.size(), 9 + 246 / 3 * 3);
    // A character outside the BMP is never split between its two UTF-16 halves.
    const QString emoji =
        QString(63, QLatin1Char('a')) + QString::fromUcs4(U"\U0001F600").repeated(60);
    const QString cut = captureFileName(emoji, 1);
    EXPECT_LE(cut.toUtf8().size(), 255);
    EXPECT_FALSE(cut.at(cut.size() - 10).isHighSurrogate());
    // Exactly fitting titles stay whole.
    const QString fits(255 - 9, QLatin1Char('a'));
    EXPECT_EQ(captureFileName(fits, 1), fits + QStringLiteral("temp1.bmp"));
}

TEST(FolderNames, AnyEntryTakesANameAndManyCapturesAreCounted) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Xtemp1.bmp")));
    touch(dir.filePath(QStringLiteral(".Xtemp2.bmp")));
    touch(dir.filePath(QStringLiteral("Xtemp2.bmp")));
    ASSERT_EQ(::symlink("/nonexistent",
                        QFile::encodeName(dir.filePath(QStringLiteral("Xtemp3.bmp"))).constData()),
              0);
    FolderNames names(dir.path(), QStringLiteral("X"));
    EXPECT_EQ(
        MakeCaptureFileName(QStringLiteral("X"), [&](const QString& n) { return names.taken(n); }),
        QStringLiteral("Xtemp4.bmp"));

    // Past the first few probes the folder is listed once; the answer must not change.
    for (int n = 1; n <= 300; ++n) {
        if (n != 123) {
            touch(dir.filePath(QStringLiteral("Ytemp%1.bmp").arg(n)));
        }
    }
    FolderNames many(dir.path(), QStringLiteral("Y"));
    EXPECT_EQ(
        MakeCaptureFileName(QStringLiteral("Y"), [&](const QString& n) { return many.taken(n); }),
        QStringLiteral("Ytemp123.bmp"));
    FolderNames again(dir.path(), QStringLiteral("Y"));
    EXPECT_EQ(MakeCaptureFileName(
                  QStringLiteral("Y"), [&](const QString& n) { return again.taken(n); }, 124),
              QStringLiteral("Ytemp301.bmp"));
}

TEST(Bmp, HeadersRowsAndPaddingReadByHand) {
    // 3 x 2 pixels: rows of 9 bytes padded to 12.
    QImage image(3, 2, QImage::Format_RGB32);
    const QRgb top[3] = {0xff102030, 0xff405060, 0xff708090};
    const QRgb bottom[3] = {0xffa0b0c0, 0xffd0e0f0, 0xff010203};
    for (int x = 0; x < 3; ++x) {
        image.setPixel(x, 0, top[x]);
        image.setPixel(x, 1, bottom[x]);
    }
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(writeBmp24(out, image));
    const QByteArray bmp = out.data();
    ASSERT_EQ(bmp.size(), 54 + 2 * 12);
    EXPECT_EQ(bmp.left(2), QByteArray("BM"));
    EXPECT_EQ(le32(bmp, 2), 78u);  // file size
    EXPECT_EQ(le32(bmp, 10), 54u); // pixel data offset
    EXPECT_EQ(le32(bmp, 14), 40u); // info header
    EXPECT_EQ(le32(bmp, 18), 3u);
    EXPECT_EQ(le32(bmp, 22), 2u); // positive height: bottom-up
    EXPECT_EQ(le16(bmp, 26), 1);
    EXPECT_EQ(le16(bmp, 28), 24);
    EXPECT_EQ(le32(bmp, 30), 0u); // no compression
    EXPECT_EQ(le32(bmp, 34), 24u);
    // First stored row is the bottom one, blue-green-red, then three zero bytes.
    EXPECT_EQ(bmp.mid(54, 12), QByteArray("\xc0\xb0\xa0\xf0\xe0\xd0\x03\x02\x01\x00\x00\x00", 12));
    EXPECT_EQ(bmp.mid(66, 12), QByteArray("\x30\x20\x10\x60\x50\x40\x90\x80\x70\x00\x00\x00", 12));
    // Qt reads back the same pixels.
    QImage back;
    ASSERT_TRUE(back.loadFromData(bmp, "BMP"));
    EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image);
    EXPECT_EQ(bmp, test::referenceBmp24(image));

    // A picture written in more than one piece (rows of 8400 bytes, pieces of 8 MiB).
    const QImage tall = test::patternPicture(2800, 2100);
    QBuffer pieces;
    pieces.open(QIODevice::WriteOnly);
    ASSERT_TRUE(writeBmp24(pieces, tall));
    EXPECT_TRUE(pieces.data() == test::referenceBmp24(tall));

    // Rows taken four pixels at a time and the pixels left over, with alpha bytes that are
    // not 0xff (as screen pixels come): every width from 1 to 9.
    for (int width = 1; width <= 9; ++width) {
        QImage odd = test::patternPicture(width, 3);
        for (int y = 0; y < odd.height(); ++y) {
            auto* line = reinterpret_cast<quint32*>(odd.scanLine(y));
            for (int x = 0; x < width; ++x) {
                line[x] = (line[x] & 0xffffff) | static_cast<quint32>(x * 40 + y) << 24;
            }
        }
        QBuffer narrow;
        narrow.open(QIODevice::WriteOnly);
        ASSERT_TRUE(writeBmp24(narrow, odd));
        EXPECT_TRUE(narrow.data() == test::referenceBmp24(odd)) << "width " << width;
    }
}

TEST(CaptureFile, NeverReplacesAndTakesTheNextNumberWhenANameIsTakenMeanwhile) {
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("temp1.bmp")), "keep me");
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(0xff00ff00);
    CaptureFileResult result = writeCaptureFile(dir.path(), QString(), image);
    EXPECT_EQ(result.outcome, CaptureFileResult::Outcome::Written);
    EXPECT_EQ(result.path, dir.path() + QStringLiteral("/temp2.bmp"));
    EXPECT_EQ(contents(result.path), test::referenceBmp24(image));
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("temp1.bmp"))), QByteArray("keep me"));

    // Another program creates the chosen name just before the exclusive create.
    QStringList opened;
    const auto raced = [&](QFile& file) {
        opened << QFileInfo(file.fileName()).fileName();
        if (opened.size() == 1) {
            touch(file.fileName(), "the other program's");
        }
        return createExclusively(file);
    };
    result = writeCaptureFile(dir.path(), QString(), image, raced);
    EXPECT_EQ(opened, (QStringList{QStringLiteral("temp3.bmp"), QStringLiteral("temp4.bmp")}));
    EXPECT_EQ(result.path, dir.path() + QStringLiteral("/temp4.bmp"));
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("temp3.bmp"))),
              QByteArray("the other program's"));
    EXPECT_EQ(contents(result.path), test::referenceBmp24(image));

    // The same through the folder's listing, once there are many captures: the name lost is
    // noted, so the next number is taken rather than the lost one again.
    for (int n = 5; n <= 40; ++n) {
        touch(dir.filePath(QStringLiteral("temp%1.bmp").arg(n)), "older");
    }
    opened.clear();
    result = writeCaptureFile(dir.path(), QString(), image, raced);
    EXPECT_EQ(opened, (QStringList{QStringLiteral("temp41.bmp"), QStringLiteral("temp42.bmp")}));
    EXPECT_EQ(result.path, dir.path() + QStringLiteral("/temp42.bmp"));

    result = writeCaptureFile(dir.filePath(QStringLiteral("missing")), QString(), image);
    EXPECT_EQ(result.outcome, CaptureFileResult::Outcome::FolderRefused);
    EXPECT_FALSE(result.error.isEmpty());
}

// Pages of the file the page cache still holds.
std::size_t cachedPages(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const auto size = static_cast<std::size_t>(QFileInfo(path).size());
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    ::mincore(map, size, resident.data());
    ::munmap(map, size);
    return static_cast<std::size_t>(std::count_if(resident.begin(), resident.end(),
                                                  [](unsigned char r) { return (r & 1) != 0; }));
}

TEST(CaptureFile, PagesAreLetGoOnceWrittenOutAndTheFileStaysWhole) {
    QTemporaryDir dir;
    const QImage image = test::patternPicture(1024, 768);
    const CaptureFileResult result = writeCaptureFile(dir.path(), QString(), image);
    ASSERT_TRUE(result.written());
    ASSERT_GT(cachedPages(result.path), 0U);
    {
        QFile file(result.path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ::fdatasync(file.handle()); // out on the disk before the release, however loaded
    }
    QEventLoop loop;
    QTimer::singleShot(500, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(cachedPages(result.path), 0U);
    EXPECT_EQ(contents(result.path), test::referenceBmp24(image));
}

// A folder already holding many captures of one title: the name the capture takes.
class ManyCaptures : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ManyCaptures, NextNumberFitsAndNothingIsLost) {
    const auto [titleChars, held] = GetParam();
    const QString title = titleChars ? QString(titleChars, QChar(0x4E2D)) : QStringLiteral("X");
    QTemporaryDir dir;
    for (int n = 1; n <= held; ++n) {
        touch(dir.filePath(captureFileName(title, n)));
    }
    FolderNames names(dir.path(), title);
    const std::optional<QString> name = names.firstFree();
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, captureFileName(title, held + 1));
    EXPECT_TRUE(name->endsWith(QStringLiteral("temp%1.bmp").arg(held + 1)));
    EXPECT_LE(QFile::encodeName(*name).size(), kMaxFileNameBytes);
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::white);
    const CaptureFileResult result = writeCaptureFile(dir.path(), title, image);
    EXPECT_EQ(result.path, dir.filePath(*name));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), held + 1);
}

// Titles: "X", and 90 and 100 Chinese characters (270 and 300 bytes, cut to fit).
INSTANTIATE_TEST_SUITE_P(FolderNames, ManyCaptures,
                         ::testing::Values(std::tuple(0, 31), std::tuple(0, 33), std::tuple(90, 33),
                                           std::tuple(100, 33)));
