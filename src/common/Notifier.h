#pragma once

#include <QString>

namespace morvane {

// Passing messages from the notification-area icon: what went wrong when nobody asked. They
// never wait for an answer, so they may come in the middle of the user's work. Tests put a
// recorder in place of the icon.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& title, const QString& text) = 0;
};

} // namespace morvane
