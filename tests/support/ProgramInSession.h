#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace morvane::test {

// The real program, started for a test inside a desktop session with a save folder of its
// own; its log is gathered as it comes. Ended with the test.
struct ProgramInSession {
    QTemporaryDir home;
    QString shots = home.filePath(QStringLiteral("shots"));
    QProcess process;
    QByteArray log;

    // Writes the settings into configHome (a folder of its own when empty: a desktop that
    // keeps its own settings beside the program's, as GNOME's dconf does, needs the session's),
    // starts the program and waits up to `ms` for its log to say `ready`.
    bool start(const QString& program, const QByteArray& ready, int ms, QString configHome = {}) {
        QDir().mkpath(shots);
        if (configHome.isEmpty()) {
            configHome = home.filePath(QStringLiteral("config"));
        }
        QDir().mkpath(configHome + QStringLiteral("/Morvane"));
        QFile settings(configHome + QStringLiteral("/Morvane/Morvane.conf"));
        if (!settings.open(QIODevice::WriteOnly)) {
            return false;
        }
        settings.write("[config]\nsavepath=" + shots.toUtf8() + "\n");
        settings.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("morvane.info=true"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, {});
        return QTest::qWaitFor(
            [&] {
                log += process.readAll();
                return log.contains(ready);
            },
            ms);
    }

    qsizetype files() const { return QDir(shots).entryList(QDir::Files).size(); }

    ~ProgramInSession() {
        process.terminate();
        process.waitForFinished(10000);
    }
};

} // namespace morvane::test
