#pragma once

#include "common/Notifier.h"

#include <QStringList>

namespace morvane::test {

// Remembers every notification as "title|text" instead of showing it.
struct RecordingNotifier final : Notifier {
    void notify(const QString& title, const QString& text) override { shown << title + '|' + text; }
    QStringList shown;
};

} // namespace morvane::test
