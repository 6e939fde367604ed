#pragma once

#include <QImage>
#include <QString>

namespace morvane {

// Receives each capture for the system clipboard, and reads the address a user copied.
class ClipboardSink {
public:
    virtual ~ClipboardSink() = default;
    virtual void setImage(const QImage& image) = 0;
    // The text the clipboard (selection false) or the primary selection (true) holds;
    // nothing when a password manager marked it secret.
    virtual QString text(bool selection) const {
        (void)selection;
        return {};
    }
};

// The clipboard through Qt: on X11 the program owns the selection without any window of
// its own having focus.
class QtClipboard final : public ClipboardSink {
public:
    void setImage(const QImage& image) override;
    QString text(bool selection) const override;
};

} // namespace morvane
