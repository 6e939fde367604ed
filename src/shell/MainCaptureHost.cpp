#include "MainCaptureHost.h"

#include "FrmMain.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

namespace morvane {

QString MainCaptureHost::saveFolder() const {
    return window_.saveFolder();
}

CaptureMode MainCaptureHost::captureMode() const {
    if (window_.Opt_Web->isChecked()) {
        return CaptureMode::WebPage;
    }
    if (window_.Opt_Part->isChecked()) {
        return CaptureMode::Control;
    }
    if (window_.Opt_Frame->isChecked()) {
        return CaptureMode::Container;
    }
    if (window_.Opt_Pro->isChecked()) {
        return CaptureMode::Window;
    }
    return CaptureMode::FullScreen;
}

bool MainCaptureHost::pointerOverlay() const {
    return window_.Chk_Cursor->isChecked();
}

void MainCaptureHost::holdPicture(const QImage& picture) {
    window_.Picture1->picture = picture;
}

void MainCaptureHost::disarmDelayedCapture() {
    window_.disarmDelayedCapture();
}

} // namespace morvane
