#include "DelayedCapture.h"

#include <charconv>
#include <cmath>
#include <string>

namespace morvane {

double readLeadingNumber(const QString& text) {
    std::string s;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            continue;
        }
        // Nothing past ASCII can continue a number; the rest is ignored anyway.
        s.push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '\x7f');
    }

    size_t i = 0;
    const auto digits = [&] {
        const size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
            ++i;
        }
        return i - start;
    };
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const size_t mantissaStart = i;
    size_t mantissaDigits = digits();
    if (i < s.size() && s[i] == '.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0) {
        return 0.0;
    }
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            ++i;
        }
        if (digits() > 0) {
            end = i;
        }
    }
    double value = 0.0;
    const auto result = std::from_chars(s.data() + mantissaStart, s.data() + end, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large to convert: keep it infinite so that it is refused as out of range.
        const bool tiny = s.find_first_of("eE", mantissaStart) != std::string::npos &&
                          s.find('-', s.find_first_of("eE", mantissaStart)) < end;
        value = tiny ? 0.0 : HUGE_VAL;
    }
    return negative ? -value : value;
}

std::optional<int> delayMilliseconds(double seconds) {
    const double ms = std::nearbyint(seconds * 1000.0);
    if (!std::isfinite(ms) || ms < 0.0 || ms > static_cast<double>(kMaxDelayMs)) {
        return std::nullopt;
    }
    return static_cast<int>(ms);
}

} // namespace morvane
