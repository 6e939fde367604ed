#pragma once

#include <QWebEnginePage>

namespace morvane {

// The page of the browser window. A page's script dialogs are shown as a browser shows them,
// but only the first few of each page: a page that opens them in a loop would otherwise hold
// the window for good. During a capture none is shown (it would be photographed, and wait).
class GuardedPage final : public QWebEnginePage {
public:
    // capturing: the window's flag, true while a capture runs; it outlives the page.
    GuardedPage(const bool& capturing, QObject* parent);

protected:
    void javaScriptAlert(const QUrl& origin, const QString& text) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& text) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& text, const QString& value,
                          QString* result) override;

private:
    static constexpr int kDialogsShown = 3;

    bool allow();

    const bool& capturing_;
    int shown_ = 0;
    int suppressed_ = 0;
};

} // namespace morvane
