#pragma once

#include <QString>

class QWidget;

namespace morvane {

// The few boxes the program shows the user. Everything that asks or tells the user
// goes through this, so that tests can answer in place of a person.
class Prompts {
public:
    virtual ~Prompts() = default;

    // A modal box titled "Morvane" with the text and one OK button; returns when closed.
    virtual void message(const QString& text) = 0;
};

class QtPrompts final : public Prompts {
public:
    explicit QtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void message(const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace morvane
