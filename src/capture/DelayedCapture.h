#pragma once

#include <QString>
#include <optional>

namespace morvane {

// The number at the start of a text, as a person types a delay: an optional sign, digits,
// a fraction after ".", an optional exponent. Spaces and tabs anywhere are ignored; reading
// stops at the first character that cannot continue the number; no number at all is 0.
double readLeadingNumber(const QString& text);

// The longest delay the timer holds, in milliseconds.
inline constexpr long long kMaxDelayMs = 65535;

// Seconds as whole milliseconds, rounded half to even; nothing when the timer cannot hold
// them (negative, above kMaxDelayMs, or not a finite number).
std::optional<int> delayMilliseconds(double seconds);

} // namespace morvane
