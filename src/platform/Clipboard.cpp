#include "Clipboard.h"

#include "common/Log.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace morvane {

void QtClipboard::setImage(const QImage& image) {
    QGuiApplication::clipboard()->setImage(image, QClipboard::Clipboard);
}

QString QtClipboard::text(bool selection) const {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (selection && !clipboard->supportsSelection()) {
        return {};
    }
    const QClipboard::Mode mode = selection ? QClipboard::Selection : QClipboard::Clipboard;
    // Password managers mark what they copy; such a text is never read, let alone opened.
    const QMimeData* data = clipboard->mimeData(mode);
    if (data && data->data(QStringLiteral("x-kde-passwordManagerHint")) == "secret") {
        qCInfo(lcMorvane) << "web capture: the" << (selection ? "selection" : "clipboard")
                          << "holds a password manager's secret; not read";
        return {};
    }
    return data ? data->text() : QString();
}

} // namespace morvane
