#include "GuardedPage.h"

#include "common/Log.h"

namespace morvane {

GuardedPage::GuardedPage(const bool& capturing, QObject* parent)
    : QWebEnginePage(parent), capturing_(capturing) {
    connect(this, &QWebEnginePage::loadStarted, this, [this] { shown_ = 0; });
}

void GuardedPage::javaScriptAlert(const QUrl& origin, const QString& text) {
    if (allow()) {
        QWebEnginePage::javaScriptAlert(origin, text);
    }
}

bool GuardedPage::javaScriptConfirm(const QUrl& origin, const QString& text) {
    return allow() && QWebEnginePage::javaScriptConfirm(origin, text);
}

bool GuardedPage::javaScriptPrompt(const QUrl& origin, const QString& text, const QString& value,
                                   QString* result) {
    return allow() && QWebEnginePage::javaScriptPrompt(origin, text, value, result);
}

bool GuardedPage::allow() {
    if (capturing_ || shown_ >= kDialogsShown) {
        if (suppressed_++ == 0) {
            qCInfo(lcMorvane) << "a page's script dialog was suppressed"
                              << (capturing_ ? "during a capture" : "after the first few");
        }
        return false;
    }
    ++shown_;
    return true;
}

} // namespace morvane
