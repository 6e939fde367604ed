#pragma once

#include "capture/Dispatcher.h"
#include "platform/Accessibility.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace morvane::test {

// Stands in for the main window: the choices a test sets, and what the capture left.
struct RecordingHost final : CaptureHost {
    QString folder;
    CaptureMode mode = CaptureMode::FullScreen;
    bool overlay = false;
    QImage held;
    int disarmed = 0;

    QString saveFolder() const override { return folder; }
    CaptureMode captureMode() const override { return mode; }
    bool pointerOverlay() const override { return overlay; }
    void holdPicture(const QImage& picture) override { held = picture; }
    void disarmDelayedCapture() override { ++disarmed; }
};

struct RecordingClipboard final : ClipboardSink {
    QList<QImage> images;
    QString copied; // the clipboard's text
    void setImage(const QImage& image) override { images << image; }
    QString text(bool selection) const override { return selection ? QString() : copied; }
};

struct RecordingOpener final : WebAddressOpener {
    QStringList addresses;
    bool capturing = false; // a page capture is running
    void openAddress(const QString& address) override { addresses << address; }
    bool pageCaptureRunning() const override { return capturing; }
};

// Answers every look-up with the same element, and counts them.
struct FixedLookup final : AccessibleLookup {
    std::optional<AccessibleHit> hit;
    int asked = 0;
    std::optional<AccessibleHit> elementAt(WindowId, QRect, QPoint) override {
        ++asked;
        return hit;
    }
};

} // namespace morvane::test
