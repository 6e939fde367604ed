#include "KdeHotkey.h"

#include "KeyCodes.h"
#include "common/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>

namespace morvane {

namespace {

const QString kService = QStringLiteral("org.kde.kglobalaccel");
const QString kPath = QStringLiteral("/kglobalaccel");
const QString kInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString kComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

// Set the keys as the active ones, and never take them from the service's stored settings:
// the program's own settings say which combination it uses.
constexpr uint kSetPresent = 2;
constexpr uint kNoAutoloading = 4;

// The service answers within milliseconds; a service that hangs must not hang the program.
constexpr int kTimeoutMs = 2000;

QDBusMessage call(const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kTimeoutMs);
}

} // namespace

KdeHotkey::KdeHotkey()
    : actionId_{QStringLiteral("morvane"), QStringLiteral("capture"), QStringLiteral("Morvane"),
                QStringLiteral("抓图")} {}

KdeHotkey::~KdeHotkey() {
    release();
}

bool KdeHotkey::serviceAvailable() {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(kService).value();
}

bool KdeHotkey::ensureRegistered() {
    if (registered_) {
        return true;
    }
    const QDBusMessage reply = call(QStringLiteral("doRegister"), {actionId_});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcMorvane) << "global shortcut service refused the action:"
                             << reply.errorMessage();
        return false;
    }
    const QDBusMessage component = call(QStringLiteral("getComponent"), {actionId_.first()});
    const QList<QVariant> values = component.arguments();
    if (component.type() != QDBusMessage::ReplyMessage || values.isEmpty()) {
        qCWarning(lcMorvane) << "global shortcut service names no component:"
                             << component.errorMessage();
        return false;
    }
    componentPath_ = qvariant_cast<QDBusObjectPath>(values.first()).path();
    if (!QDBusConnection::sessionBus().connect(kService, componentPath_, kComponentInterface,
                                               QStringLiteral("globalShortcutPressed"), this,
                                               SLOT(onPressed(QString, QString, qlonglong)))) {
        qCWarning(lcMorvane) << "cannot follow the global shortcut's presses at" << componentPath_;
        return false;
    }
    registered_ = true;
    return true;
}

bool KdeHotkey::setKeys(const QList<int>& keys, QList<int>* given) {
    const QDBusMessage reply =
        call(QStringLiteral("setShortcut"), {actionId_, QVariant::fromValue(keys),
                                             QVariant::fromValue(kSetPresent | kNoAutoloading)});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCWarning(lcMorvane) << "global shortcut service did not set the keys:"
                             << reply.errorMessage();
        return false;
    }
    if (given) {
        *given = qdbus_cast<QList<int>>(reply.arguments().first());
    }
    return true;
}

bool KdeHotkey::grab(int modifierFlags, std::optional<std::uint32_t> keyCode) {
    release();
    const std::optional<int> key = keyCode ? qtKeyForKeyCode(*keyCode) : std::nullopt;
    if (!key) {
        return true; // nothing to take, as on X11
    }
    if (!ensureRegistered()) {
        return false;
    }
    const int wanted = *key | qtModifiersForFlags(modifierFlags);
    QList<int> given;
    if (!setKeys({wanted}, &given)) {
        return false;
    }
    held_ = true;
    if (!given.contains(wanted)) {
        // Another component holds it; the service gave the action no keys.
        qCInfo(lcMorvane) << "global shortcut" << Qt::hex << wanted << "refused; given" << given;
        release();
        return false;
    }
    qCInfo(lcMorvane) << "global shortcut" << Qt::hex << wanted << "registered";
    return true;
}

void KdeHotkey::release() {
    if (!held_) {
        return;
    }
    held_ = false;
    setKeys({}, nullptr);
    const QDBusMessage reply = call(QStringLiteral("setInactive"), {actionId_});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCInfo(lcMorvane) << "global shortcut not marked inactive:" << reply.errorMessage();
    }
}

void KdeHotkey::onPressed(const QString& component, const QString& action, qlonglong) {
    if (held_ && component == actionId_.at(0) && action == actionId_.at(1)) {
        emit pressed();
    }
}

} // namespace morvane
