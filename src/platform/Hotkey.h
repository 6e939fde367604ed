#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>

namespace morvane {

// The one system-wide capture hotkey, however the desktop provides it. Presses arrive
// through Qt's own event loop as pressed(); nothing polls.
class Hotkey : public QObject {
    Q_OBJECT

public:
    // Takes the combination of the modifier flags (Alt 1, Ctrl 2, Shift 4) and the
    // virtual-key code, after giving up the earlier one. A code with no key takes nothing.
    // False when the desktop refuses the combination (most often because another program
    // holds it): the program then runs on without a hotkey, as the shell tells the user.
    virtual bool grab(int modifierFlags, std::optional<std::uint32_t> keyCode) = 0;
    // Gives the combination back to the desktop; safe to call more than once.
    virtual void release() = 0;
    // Why grab() refused, in words for the user, where the reason is not that another program
    // holds the combination; empty otherwise.
    virtual QString refusal() const { return {}; }

signals:
    void pressed();
};

// Where the desktop lets no program have a key: any combination is refused, and the user
// binds the program's --capture in the desktop's own settings instead.
class NoHotkey final : public Hotkey {
public:
    bool grab(int /*modifierFlags*/, std::optional<std::uint32_t> keyCode) override {
        return !keyCode;
    }
    void release() override {}
    QString refusal() const override {
        return QStringLiteral("此桌面不让程序设置全局组合键。请在桌面的键盘设置中把组合键绑定到命令"
                              "“morvane --capture”。");
    }
};

} // namespace morvane
