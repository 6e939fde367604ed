#include "shell/InstanceLock.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace morvane;

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstIsGone) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("morvane.lock"));
    {
        InstanceLock first(path);
        ASSERT_TRUE(first.acquire());
        InstanceLock second(path);
        EXPECT_FALSE(second.acquire());
    }
    InstanceLock third(path);
    EXPECT_TRUE(third.acquire());
}

TEST(InstanceLock, LockLeftByADeadProcessIsTakenOver) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("morvane.lock"));
    // The id of a process that has already ended, as after a crash.
    QProcess gone;
    gone.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
    ASSERT_TRUE(gone.waitForFinished());
    const QByteArray deadPid = gone.readAllStandardOutput().trimmed();
    ASSERT_FALSE(deadPid.isEmpty());
    QFile stale(path);
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write(deadPid + "\n" + QCoreApplication::applicationName().toUtf8() + "\n" +
                QSysInfo::machineHostName().toUtf8() + "\n");
    stale.close();

    InstanceLock next(path);
    EXPECT_TRUE(next.acquire());
}

TEST(InstanceLock, NoUsableFolderNeverRefusesAStart) {
    QTemporaryDir dir;
    const QString notAFolder = dir.filePath(QStringLiteral("file"));
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    InstanceLock lock(notAFolder + QStringLiteral("/morvane.lock"));
    EXPECT_TRUE(lock.acquire());
}
