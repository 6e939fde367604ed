#include "WindowText.h"

namespace morvane {

QByteArray limitUtf8(QByteArray text) {
    constexpr qsizetype kMaxBytes = 254;
    if (text.size() <= kMaxBytes) {
        return text;
    }
    const auto continues = [&text](qsizetype i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    // text[cut] is the first byte that does not fit; if it continues a character, that
    // character started at most three bytes earlier and goes too. Bytes that are not UTF-8
    // at all are cut at the limit.
    qsizetype cut = kMaxBytes;
    while (cut > kMaxBytes - 3 && continues(cut)) {
        --cut;
    }
    text.truncate(continues(cut) ? kMaxBytes : cut);
    return text;
}

} // namespace morvane
