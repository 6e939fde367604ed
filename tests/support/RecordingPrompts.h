#pragma once

#include "shell/Prompts.h"

#include <QStringList>

namespace morvane::test {

// Answers every box at once and remembers what it was asked to show.
class RecordingPrompts final : public Prompts {
public:
    void message(const QString& text, MessageScope scope) override {
        messages << text;
        scopes << scope;
    }

    QStringList messages;
    QList<MessageScope> scopes;
};

} // namespace morvane::test
