#pragma once

#include "Hotkey.h"

#include <QString>
#include <QStringList>

namespace morvane {

// The capture hotkey in a KDE Plasma session: a global shortcut of KDE's shortcut service
// (KGlobalAccel on the session bus), which KWin carries out whichever window has focus.
// The shortcut is this program's own component; presses arrive as the component's D-Bus
// signal through Qt's event loop.
class KdeHotkey final : public Hotkey {
    Q_OBJECT

public:
    KdeHotkey();
    ~KdeHotkey() override;

    // Registers the action on first use, then asks the service for the combination. The
    // service answers with the keys it actually gave: a combination held by another
    // component is given none, and that is a refusal.
    bool grab(int modifierFlags, std::optional<std::uint32_t> keyCode) override;
    // Sets the action's keys to none and marks it inactive, so that the service neither
    // runs it nor keeps the combination from other programs.
    void release() override;

    // Whether the shortcut service answers on the session bus.
    static bool serviceAvailable();

private slots:
    void onPressed(const QString& component, const QString& action, qlonglong timestamp);

private:
    bool ensureRegistered();
    bool setKeys(const QList<int>& keys, QList<int>* given);

    QStringList actionId_;
    QString componentPath_;
    bool registered_ = false;
    bool held_ = false;
};

} // namespace morvane
