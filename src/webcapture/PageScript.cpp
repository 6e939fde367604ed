#include "PageScript.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEngineScript>
#include <memory>

namespace morvane {

std::optional<QVariant> PageScript::run(const QString& script, int timeoutMs) {
    // Once cancelled, or the window gone, nothing more is waited for: a page whose script
    // never ends would hold every later wait to its time limit.
    if (cancelled()) {
        return std::nullopt;
    }
    QEventLoop loop;
    // An answer after the time is up finds its wait over and is dropped.
    auto answer = std::make_shared<std::optional<QVariant>>();
    auto waiting = std::make_shared<bool>(true);
    QEventLoop* loopPointer = &loop;
    page_->runJavaScript(script, kWorld, [answer, waiting, loopPointer](const QVariant& value) {
        if (*waiting) {
            *answer = value;
            loopPointer->quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    QEventLoop* outer = waiting_;
    waiting_ = &loop;
    loop.exec();
    *waiting = false;
    waiting_ = outer;
    if (cancelled()) {
        return std::nullopt;
    }
    return *answer;
}

void PageScript::send(const QString& script) {
    if (page_) {
        page_->runJavaScript(script, kWorld);
    }
}

bool PageScript::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer waited;
    waited.start();
    QTimer wake;
    wake.setSingleShot(true);
    while (!done()) {
        if (cancelled() || waited.elapsed() >= timeoutMs) {
            return false;
        }
        // The page's new frame reaches the window through this thread's events: wait for
        // them (or a millisecond), never sleep past them.
        wake.start(1);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void PageScript::cancel() {
    if (!cancelled_) {
        cancelled_ = true;
        if (waiting_) {
            waiting_->quit();
        }
    }
}

} // namespace morvane
