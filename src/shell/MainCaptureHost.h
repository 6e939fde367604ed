#pragma once

#include "capture/Dispatcher.h"

namespace morvane {

class Frm_Main;

// What a capture reads from the main window's controls and leaves in it.
class MainCaptureHost final : public CaptureHost {
public:
    explicit MainCaptureHost(Frm_Main& window) : window_(window) {}

    QString saveFolder() const override;
    // The web mode is looked at first; no other choice means the whole screen.
    CaptureMode captureMode() const override;
    bool pointerOverlay() const override;
    void holdPicture(const QImage& picture) override;
    void disarmDelayedCapture() override;

private:
    Frm_Main& window_;
};

} // namespace morvane
