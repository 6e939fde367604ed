#include "Accessibility.h"

#include "common/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QFile>

namespace morvane {

namespace {

const QString kBusService = QStringLiteral("org.a11y.Bus");
const QString kBusPath = QStringLiteral("/org/a11y/bus");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kStatus = QStringLiteral("org.a11y.Status");
const QString kIsEnabled = QStringLiteral("IsEnabled");

// How long turning accessibility back off may hold up the shutdown.
constexpr int kSetOffMs = 300;

QDBusMessage setEnabledCall(bool on) {
    QDBusMessage set =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kProperties, QStringLiteral("Set"));
    set << kStatus << kIsEnabled << QVariant::fromValue(QDBusVariant(on));
    return set;
}

} // namespace

QString AccessibilitySwitch::defaultMarker() {
    // The runtime folder lives as long as the user's session, as the desktop's switch does.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString() : runtime + QStringLiteral("/morvane-accessibility-on");
}

AccessibilitySwitch::AccessibilitySwitch(QString marker)
    : marker_(std::move(marker)), alive_(std::make_shared<bool>(true)) {
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        qCInfo(lcMorvane) << "no D-Bus session: accessibility left as it is";
        return;
    }
    QDBusMessage get =
        QDBusMessage::createMethodCall(kBusService, kBusPath, kProperties, QStringLiteral("Get"));
    get << kStatus << kIsEnabled;
    auto* watcher = new QDBusPendingCallWatcher(session.asyncCall(get, 2000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [this, alive = alive_](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *call;
                         if (!*alive) {
                             return;
                         }
                         settled_ = true;
                         if (reply.isError()) {
                             qCInfo(lcMorvane) << "accessibility state unknown, left as it is:"
                                               << reply.error().message();
                             return;
                         }
                         const bool ours = !marker_.isEmpty() && QFile::exists(marker_);
                         if (reply.value().variant().toBool()) {
                             // On already: someone else's to turn off, unless an earlier run
                             // of the program turned it on and never got to turn it off.
                             turnedOn_ = ours;
                             if (ours) {
                                 qCInfo(lcMorvane) << "accessibility left on by an earlier run";
                             }
                             return;
                         }
                         setEnabled(true);
                     });
}

void AccessibilitySwitch::setEnabled(bool on) {
    if (on) {
        turnedOn_ = QDBusConnection::sessionBus().send(setEnabledCall(true));
        if (turnedOn_ && !marker_.isEmpty()) {
            QFile mark(marker_);
            if (!mark.open(QIODevice::WriteOnly)) {
                qCInfo(lcMorvane) << "accessibility switch not written down:" << mark.errorString();
            }
        }
        qCInfo(lcMorvane) << "accessibility turned on for the desktop";
        return;
    }
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(setEnabledCall(false), QDBus::Block, kSetOffMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcMorvane) << "accessibility could not be turned back off:"
                             << reply.errorMessage();
        return; // still on: the mark stays, for the next start to finish the job
    }
    if (!marker_.isEmpty()) {
        QFile::remove(marker_);
    }
}

AccessibilitySwitch::~AccessibilitySwitch() {
    *alive_ = false;
    if (turnedOn_) {
        setEnabled(false);
    }
}

} // namespace morvane
