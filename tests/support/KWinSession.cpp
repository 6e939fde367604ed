#include "KWinSession.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <gtest/gtest.h>

namespace morvane::test::kwin {

namespace {

constexpr int kReplyTimeoutMs = 5000;
constexpr auto kReplyInterface = "org.morvane.KWinScriptReply";

// Where one script's reply arrives: exported on the session bus at its own path while it
// lives, so that a late reply from an earlier script cannot be taken for this one's.
class ScriptReply : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.morvane.KWinScriptReply")
public:
    using QObject::QObject;
public slots:
    Q_SCRIPTABLE void reply(const QString& text) { emit replied(text); }
signals:
    void replied(const QString& text);
};

QDBusMessage callKWin(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall("org.kde.KWin", path, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kReplyTimeoutMs);
}

// A JavaScript string literal holding the text.
QString quoted(const QString& text) {
    QString result = text;
    result.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + result + '"';
}

} // namespace

bool input(const QStringList& commands) {
    const QString tool = qEnvironmentVariable("MORVANE_KWIN_INPUT");
    if (tool.isEmpty()) {
        ADD_FAILURE()
            << "MORVANE_KWIN_INPUT is not set: run the tests under tests/desktop/with-kwin";
        return false;
    }
    QProcess process;
    process.start(tool, commands);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "kwin_input " << commands.join(' ').toStdString() << " did not end";
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << "kwin_input " << commands.join(' ').toStdString() << " failed ("
                      << process.exitCode() << "): " << process.readAllStandardError().data();
        return false;
    }
    return true;
}

bool movePointer(QPoint at) {
    return input({"move", QString::number(at.x()), QString::number(at.y())});
}

bool click() {
    return input({"click"});
}

bool pressKeys(const QString& combination) {
    return input({"keys", combination});
}

QString runKWinScript(const QString& js) {
    static int serial = 0;
    const int number = ++serial;
    const QString replyPath = QStringLiteral("/morvane/KWinScriptReply%1").arg(number);
    const QString plugin =
        QStringLiteral("morvane-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(number);
    QDBusConnection bus = QDBusConnection::sessionBus();
    ScriptReply receiver;
    if (!bus.registerObject(replyPath, &receiver, QDBusConnection::ExportScriptableSlots)) {
        ADD_FAILURE() << "cannot export the script's reply object: "
                      << bus.lastError().message().toStdString();
        return {};
    }
    QSignalSpy replies(&receiver, &ScriptReply::replied);

    QTemporaryFile file(QDir::tempPath() + "/kwin-script-XXXXXX.js");
    const QString prelude =
        QStringLiteral("function reply(text) { callDBus(%1, %2, %3, \"reply\", String(text)); }\n")
            .arg(quoted(bus.baseService()), quoted(replyPath), quoted(kReplyInterface));
    if (!file.open() || file.write((prelude + js).toUtf8()) < 0 || !file.flush()) {
        ADD_FAILURE() << "cannot write the KWin script to " << file.fileName().toStdString();
        bus.unregisterObject(replyPath);
        return {};
    }

    QString result;
    const QDBusMessage loaded =
        callKWin("/Scripting", "org.kde.kwin.Scripting", "loadScript", {file.fileName(), plugin});
    const int id = loaded.arguments().value(0).toInt();
    if (loaded.type() != QDBusMessage::ReplyMessage || id < 0) {
        ADD_FAILURE() << "KWin did not load the script: " << loaded.errorMessage().toStdString();
    } else {
        // KWin 5 exports a loaded script at /<id>; later versions at /Scripting/Script<id>.
        QDBusMessage ran =
            callKWin(QStringLiteral("/Scripting/Script%1").arg(id), "org.kde.kwin.Script", "run");
        if (ran.type() == QDBusMessage::ErrorMessage) {
            ran = callKWin(QStringLiteral("/%1").arg(id), "org.kde.kwin.Script", "run");
        }
        if (ran.type() == QDBusMessage::ErrorMessage) {
            ADD_FAILURE() << "KWin did not run the script: " << ran.errorMessage().toStdString();
        } else if (replies.isEmpty() && !replies.wait(kReplyTimeoutMs)) {
            ADD_FAILURE() << "the KWin script did not reply within " << kReplyTimeoutMs << " ms";
        } else {
            result = replies.first().first().toString();
        }
        callKWin("/Scripting", "org.kde.kwin.Scripting", "unloadScript", {plugin});
    }
    bus.unregisterObject(replyPath);
    return result;
}

} // namespace morvane::test::kwin

#include "KWinSession.moc"
