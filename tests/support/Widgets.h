#pragma once

// Helpers for tests that drive the program's own widgets in this process.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace morvane::test {

// Answers the modal dialog that the code under test opens next: once a Dialog is the active
// modal window (within timeoutMs), act runs on it, and whatever act leaves open is rejected,
// so the caller's exec() always returns. Checks belong after that call, on what act recorded:
// an assertion inside act would only leave act, and a failure would become a hang.
class ModalAnswer {
public:
    template <class Dialog> void next(std::function<void(Dialog&)> act, int timeoutMs = 5000) {
        answered_ = false;
        timer_ = std::make_unique<QTimer>();
        timer_->setSingleShot(true);
        QObject::connect(timer_.get(), &QTimer::timeout, [this, act = std::move(act), timeoutMs] {
            QPointer<Dialog> dialog;
            (void)QTest::qWaitFor(
                [&] {
                    dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
                    return dialog && dialog->isVisible();
                },
                timeoutMs);
            if (dialog) {
                answered_ = true;
                act(*dialog);
            }
            if (dialog && dialog->isVisible()) {
                dialog->reject();
            } else if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                other->reject(); // not the dialog expected: closed, and the test fails
            }
        });
        timer_->start(0);
    }

    // Whether the dialog came up and act ran on it.
    bool answered() const { return answered_; }

private:
    std::unique_ptr<QTimer> timer_; // gone with the answer: never fires into a later test
    bool answered_ = false;
};

// A visible top-level widget of the class (by its QObject class name), or null.
inline QWidget* visibleTopLevel(const char* className) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits(className) && widget->isVisible()) {
            return widget;
        }
    }
    return nullptr;
}

// The browser window, while one is shown.
inline QWidget* browserWindow() {
    return visibleTopLevel("morvane::frmBrowser");
}

} // namespace morvane::test
