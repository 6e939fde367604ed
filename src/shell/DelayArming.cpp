#include "DelayArming.h"

#include "capture/DelayedCapture.h"
#include "common/Log.h"
#include "common/Prompts.h"

#include <QCheckBox>
#include <QTimer>

namespace morvane {

DelayArming::DelayArming(QCheckBox& box, QTimer& timer, Prompts& prompts)
    : box_(box), timer_(timer), prompts_(prompts) {}

void DelayArming::boxToggled() {
    if (!box_.isChecked()) {
        timer_.stop();
        return;
    }
    const QString typed = prompts_.input(QStringLiteral("请输入延时（单位秒）"),
                                         QStringLiteral("延时"), QStringLiteral("5"));
    // The box may have been unticked while the input box was open (by a capture that ended
    // meanwhile, say): nothing is armed behind an unticked box.
    if (!box_.isChecked()) {
        qCInfo(lcMorvane) << "delay not armed: the box was unticked while the delay was asked";
        return;
    }
    const std::optional<int> ms = delayMilliseconds(readLeadingNumber(typed));
    if (!ms) {
        // The timer holds 0 to 65,535 milliseconds; anything else arms nothing.
        box_.setChecked(false);
        prompts_.message(QStringLiteral("延时须在 0 到 65.535 秒之间"));
        return;
    }
    timer_.setInterval(*ms);
    timer_.start();
    if (*ms == 0) {
        box_.setChecked(false); // a delay of nothing arms nothing
    }
}

bool DelayArming::due() const {
    if (!box_.isChecked()) {
        qCWarning(lcMorvane) << "delayed capture dropped: the box is not ticked";
        return false;
    }
    return true;
}

void DelayArming::disarm() {
    timer_.stop();
    box_.setChecked(false);
}

} // namespace morvane
