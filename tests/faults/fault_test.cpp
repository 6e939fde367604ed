// Capture writes into folders that refuse them: a read-only file system and a full one.
// Runs in a private mount namespace (ctest starts it under `unshare -rm`), so the small
// file systems it mounts vanish with it, whatever happens.
#include "capture/BmpWriter.h"
#include "capture/Dispatcher.h"
#include "capture/ReplaceFile.h"
#include "support/MemoryDesktop.h"
#include "support/Pictures.h"
#include "support/RecordingCapture.h"
#include "support/RecordingPrompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace morvane;

namespace {

bool mountTmpfs(const QString& where, const char* options, unsigned long flags = 0) {
    return ::mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", flags, options) == 0;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class RefusingFolder : public ::testing::Test {
protected:
    QTemporaryDir dir;
    MemoryDesktop desktop; // 1920 x 1080: a 6 MB capture
    test::RecordingHost host;
    test::RecordingPrompts prompts;
    test::RecordingClipboard clipboard;
    Dispatcher dispatcher{host, desktop, prompts, clipboard};
    QList<CaptureOutcome> outcomes;

    RefusingFolder() {
        dispatcher.setReport([this](const CaptureOutcome& outcome) { outcomes << outcome; });
    }

    // The capture is reported as not written, with the system's reason for it; no box.
    void expectNotWritten(int error) const {
        EXPECT_TRUE(prompts.messages.isEmpty());
        ASSERT_EQ(outcomes.size(), 1);
        EXPECT_EQ(outcomes[0].kind, CaptureOutcome::Kind::NotWritten);
        EXPECT_EQ(outcomes[0].reason, qt_error_string(error));
        EXPECT_TRUE(outcomes[0].onClipboard);
    }
};

} // namespace

TEST_F(RefusingFolder, FullDiskLeavesNoPartialFileAndKeepsOthers) {
    const QString full = dir.filePath(QStringLiteral("full"));
    ASSERT_TRUE(QDir().mkpath(full));
    ASSERT_TRUE(mountTmpfs(full, "size=256k")) << "mount needs a private mount namespace";
    {
        QFile existing(full + QStringLiteral("/temp1.bmp"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("earlier capture");
    }
    host.folder = full;
    dispatcher.DoCapture();
    EXPECT_TRUE(dispatcher.lastFile().isEmpty());
    EXPECT_EQ(QDir(full).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("temp1.bmp")});
    EXPECT_EQ(contents(full + QStringLiteral("/temp1.bmp")), QByteArray("earlier capture"));
    expectNotWritten(ENOSPC);
    EXPECT_EQ(host.disarmed, 1);
    ::umount(QFile::encodeName(full).constData());
}

TEST_F(RefusingFolder, ReadOnlyFolderWritesNothing) {
    const QString readOnly = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    ASSERT_TRUE(mountTmpfs(readOnly, "size=64k", MS_RDONLY));
    host.folder = readOnly;
    dispatcher.DoCapture();
    EXPECT_TRUE(dispatcher.lastFile().isEmpty());
    EXPECT_TRUE(QDir(readOnly).isEmpty());
    expectNotWritten(EROFS);
    EXPECT_EQ(host.disarmed, 1);
    ::umount(QFile::encodeName(readOnly).constData());
}

namespace {

// A 64 KB file system of its own holding picture.bmp with the given bytes; its path.
QString pictureOnSmallVolume(const QTemporaryDir& dir, const QByteArray& original) {
    const QString folder = dir.filePath(QStringLiteral("volume"));
    if (!QDir().mkpath(folder) || !mountTmpfs(folder, "size=64k")) {
        ADD_FAILURE() << "mount needs a private mount namespace";
        return {};
    }
    const QString path = folder + QStringLiteral("/picture.bmp");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(original) != original.size()) {
        ADD_FAILURE() << "the original could not be written";
    }
    return path;
}

} // namespace

// "保存" and "另存为" replace a file: a write that fails must leave the file that was there.
TEST(ReplacingAFile, ReadOnlyFolderKeepsTheOriginal) {
    QTemporaryDir dir;
    const QString path = pictureOnSmallVolume(dir, "the opened picture");
    ASSERT_FALSE(path.isEmpty());
    const QString folder = QFileInfo(path).path();
    ASSERT_EQ(::mount(nullptr, QFile::encodeName(folder).constData(), nullptr,
                      MS_REMOUNT | MS_RDONLY, nullptr),
              0);
    QImage crop(20, 10, QImage::Format_RGB32);
    crop.fill(Qt::red);
    EXPECT_FALSE(replaceWithBmp24(path, crop));
    EXPECT_EQ(contents(path), QByteArray("the opened picture"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("picture.bmp")});
    ::umount(QFile::encodeName(folder).constData());
}

TEST(ReplacingAFile, FullDiskKeepsTheOriginalAndLeavesNoPartialFile) {
    QTemporaryDir dir;
    const QByteArray original(40000, 'p');
    const QString path = pictureOnSmallVolume(dir, original);
    ASSERT_FALSE(path.isEmpty());
    const QString folder = QFileInfo(path).path();
    QImage crop(100, 100, QImage::Format_RGB32); // 30 KB: more than the space that is left
    crop.fill(Qt::blue);
    EXPECT_FALSE(replaceWithBmp24(path, crop));
    // "保存", which checks the file it opened, gives the reason as well.
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    const ReplaceResult result = replaceFile(
        path, [&crop](QIODevice& out) { return writeBmp24(out, crop); },
        FileIdentity{info.st_dev, info.st_ino});
    EXPECT_EQ(result.outcome, ReplaceResult::Outcome::Failed);
    EXPECT_EQ(result.error, qt_error_string(ENOSPC));
    EXPECT_EQ(contents(path), original);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("picture.bmp")});
    // Once there is room, the same write replaces it.
    QImage small(4, 4, QImage::Format_RGB32);
    small.fill(Qt::green);
    EXPECT_TRUE(replaceWithBmp24(path, small));
    EXPECT_EQ(contents(path), test::referenceBmp24(small));
    ::umount(QFile::encodeName(folder).constData());
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
