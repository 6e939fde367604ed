#pragma once

#include "shell/Prompts.h"

#include <QStringList>

namespace morvane::test {

// Answers every box at once and remembers what it was asked to show.
class RecordingPrompts final : public Prompts {
public:
    void message(const QString& text) override { messages << text; }

    QStringList messages;
};

} // namespace morvane::test
