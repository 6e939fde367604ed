#pragma once

#include <QString>

class QWidget;

namespace morvane {

// Application: modal to the program. System: also kept above every other window, for a
// message that answers something the user did in another program.
enum class MessageScope { Application, System };

// The few boxes the program shows the user. Everything that asks or tells the user
// goes through this, so that tests can answer in place of a person.
class Prompts {
public:
    virtual ~Prompts() = default;

    // A modal box titled "Morvane" with the text and one OK button; returns when closed.
    virtual void message(const QString& text, MessageScope scope = MessageScope::Application) = 0;

    // A modal input box with the prompt, the title and the text it starts with; the text
    // the user confirmed, or an empty text when the box was cancelled.
    virtual QString input(const QString& prompt, const QString& title, const QString& initial) = 0;
};

class QtPrompts final : public Prompts {
public:
    explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void message(const QString& text, MessageScope scope) override;
    QString input(const QString& prompt, const QString& title, const QString& initial) override;

private:
    QWidget* parent_;
};

} // namespace morvane
