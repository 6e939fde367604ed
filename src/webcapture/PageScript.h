#pragma once

#include "webcapture/PageCapture.h"

#include <QPointer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWidget>

class QEventLoop;

namespace morvane {

// The page's scripts during a capture, over the web engine's page: each runs in the capture's
// own script world (the page's scripts share the document with it but cannot see or replace
// what it defines), its answer waited for in a local event loop, the only one of the web
// capture. While it waits, every event is handled, the user's too, so that Esc, "Stop" and
// closing the window reach a capture whose page does not answer; cancel() ends the wait at
// once, and no later call waits at all.
//
// Lifetime: during a wait anything may happen, the window's deletion too (a close the window
// accepts, a deleteLater, the program's shutdown). The window turns a close during a capture
// into a cancel and closes once the capture has unwound, so it is not deleted on its own; should
// it go all the same, this object must outlive it: make it on the caller's stack, never as a
// member of the window. It watches the window and the page through guarded pointers and checks
// them after every wait: once either is gone, the wait returns nothing, cancelled() holds and no
// later call waits. The caller then must not touch the window: it keeps its own QPointer to it
// and checks that before using it after any call here.
class PageScript final : public PageScripts {
public:
    PageScript(QWebEnginePage& page, QWidget& window) : page_(&page), window_(&window) {}
    PageScript(const PageScript&) = delete;
    PageScript& operator=(const PageScript&) = delete;

    std::optional<QVariant> run(const QString& script, int timeoutMs) override;
    void send(const QString& script) override;
    bool waitUntil(const std::function<bool()>& done, int timeoutMs) override;
    bool cancelled() const override { return cancelled_ || !page_ || !window_; }

    // Ends a running wait at once; nothing more is waited for.
    void cancel();

    // The world the program's scripts run in, for those sent outside a capture.
    static constexpr quint32 kWorld = QWebEngineScript::ApplicationWorld;

private:
    QPointer<QWebEnginePage> page_;
    QPointer<QWidget> window_;
    bool cancelled_ = false;
    QEventLoop* waiting_ = nullptr; // the wait a cancel ends
};

} // namespace morvane
