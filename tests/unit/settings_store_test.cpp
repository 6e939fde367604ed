#include "shell/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace morvane;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class SettingsStoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Morvane.conf"));
};

} // namespace

TEST_F(SettingsStoreTest, AbsentFileGivesDefaultsAndIsNotCreated) {
    SettingsStore store(path);
    EXPECT_EQ(store.read(QStringLiteral("key1"), QStringLiteral("Ctrl")), QStringLiteral("Ctrl"));
    EXPECT_EQ(store.read(QStringLiteral("savepath"), QString()), QString());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(SettingsStoreTest, TextsRoundTripExactly) {
    const QStringList values = {
        QStringLiteral(" /tmp/x "),
        QStringLiteral("ctrl"),
        QStringLiteral("/home/用户/截图=1;2#3"),
        QStringLiteral(R"(C:\a\b "quoted" 'single')"),
        QStringLiteral("a,b, c"),
        QStringLiteral("@Variant(x)"),
        QStringLiteral("\ttab\t"),
        QString(),
        QStringLiteral("true"),
        QStringLiteral("42"),
    };
    SettingsStore store(path);
    for (const QString& value : values) {
        ASSERT_TRUE(store.write(QStringLiteral("savepath"), value));
        SettingsStore reopened(path);
        EXPECT_EQ(reopened.read(QStringLiteral("savepath"), QStringLiteral("fallback")), value)
            << value.toStdString();
    }
}

TEST_F(SettingsStoreTest, KeysLiveInGroupConfigAndWritingOneKeepsTheOthers) {
    SettingsStore store(path);
    store.write(QStringLiteral("key1"), QStringLiteral("Alt"));
    store.write(QStringLiteral("key2"), QStringLiteral("Q"));
    store.write(QStringLiteral("savepath"), QStringLiteral("/srv"));
    store.write(QStringLiteral("key1"), QStringLiteral("Shift"));
    EXPECT_EQ(store.read(QStringLiteral("key2"), {}), QStringLiteral("Q"));
    EXPECT_EQ(store.read(QStringLiteral("savepath"), {}), QStringLiteral("/srv"));
    const QByteArray text = contents(path);
    EXPECT_TRUE(text.startsWith("[config]\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("key1=Shift\n")) << text.toStdString();
}

TEST_F(SettingsStoreTest, HandWrittenFileIsReadAsWritten) {
    writeFile(path, "[config]\nkey1=ctrl\nkey2=s\nsavepath=/data/a, b\n");
    SettingsStore store(path);
    EXPECT_EQ(store.read(QStringLiteral("key1"), {}), QStringLiteral("ctrl"));
    EXPECT_EQ(store.read(QStringLiteral("key2"), {}), QStringLiteral("s"));
    EXPECT_EQ(store.read(QStringLiteral("savepath"), {}), QStringLiteral("/data/a, b"));
}

TEST_F(SettingsStoreTest, GarbageOrEmptyFileGivesDefaultsAndStaysUntouched) {
    const QList<QByteArray> files = {
        QByteArray(),
        QByteArray("\x00\xff\xfe garbage [[[ =\n\x01\x02", 17),
        QByteArray("[other]\nkey1=Alt\n"),
        QByteArray("[config\nkey1\n=\n"),
    };
    for (const QByteArray& bytes : files) {
        writeFile(path, bytes);
        SettingsStore store(path);
        EXPECT_EQ(store.read(QStringLiteral("key1"), QStringLiteral("Ctrl")),
                  QStringLiteral("Ctrl"));
        EXPECT_EQ(store.read(QStringLiteral("key2"), QStringLiteral("S")), QStringLiteral("S"));
        EXPECT_EQ(contents(path), bytes);
    }
}

TEST_F(SettingsStoreTest, UnreadableFileGivesDefaults) {
    // A folder where the file should be cannot be read, even by root.
    ASSERT_TRUE(QDir().mkpath(path));
    SettingsStore store(path);
    EXPECT_EQ(store.read(QStringLiteral("key2"), QStringLiteral("S")), QStringLiteral("S"));
    EXPECT_FALSE(store.write(QStringLiteral("key2"), QStringLiteral("T")));
    EXPECT_TRUE(QFileInfo(path).isDir());
}

TEST(SettingsStoreLocation, UserStoreIsMorvaneConfUnderConfigHome) {
    const QString file = SettingsStore().fileName();
    EXPECT_TRUE(file.endsWith(QStringLiteral("/Morvane/Morvane.conf"))) << file.toStdString();
}
