#pragma once

class QCheckBox;
class QTimer;

namespace morvane {

class Prompts;

// The delayed capture's box and its one-shot timer: ticking the box asks for the delay and
// arms the timer, unticking it disarms the timer. The capture is due when the timer fires
// with the box still ticked.
class DelayArming {
public:
    DelayArming(QCheckBox& box, QTimer& timer, Prompts& prompts);

    // The box was ticked or unticked, by the user or the program.
    void boxToggled();
    // The timer fired: whether the capture is due.
    bool due() const;
    // A capture began: the timer stops and the box is unticked.
    void disarm();

private:
    QCheckBox& box_;
    QTimer& timer_;
    Prompts& prompts_;
};

} // namespace morvane
