#pragma once

#include "common/Prompts.h"

#include <QStringList>

namespace morvane::test {

// Answers every box at once and remembers what it was asked to show.
class RecordingPrompts final : public Prompts {
public:
    void message(const QString& text, MessageScope scope) override {
        messages << text;
        scopes << scope;
    }

    // Answers the input boxes in turn; an empty text (a cancelled box) once they run out.
    QString input(const QString& prompt, const QString& title, const QString& initial) override {
        inputs << QStringList{prompt, title, initial};
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    QStringList messages;
    QList<QStringList> inputs;
    QStringList answers;
    QList<MessageScope> scopes;
};

} // namespace morvane::test
