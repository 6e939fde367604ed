#include "CompoundText.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace morvane {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// A charset designated into GL or GR. Its characters are handed to iconv in the encoding
// named here: with the high bit set on every byte where that encoding wants it (the EUC
// form of the two-byte sets, ISO 8859 for the 96-character sets), else with it cleared.
struct Charset {
    const char* encoding; // nullptr: a charset this reader does not know
    int width;            // bytes per character
    bool highBit;
};

constexpr Charset kAscii{"ASCII", 1, false};
constexpr Charset kLatin1{"ISO-8859-1", 1, true};

Charset set94(char final) {
    switch (final) {
    case 'B':
        return kAscii;
    case 'J':
        return {"JIS_X0201", 1, false}; // JIS X 0201 Roman
    case 'I':
        return {"JIS_X0201", 1, true}; // JIS X 0201 Katakana
    default:
        return {nullptr, 1, false};
    }
}

Charset set96(char final) {
    static constexpr std::pair<char, const char*> parts[] = {
        {'A', "ISO-8859-1"},  {'B', "ISO-8859-2"},  {'C', "ISO-8859-3"},  {'D', "ISO-8859-4"},
        {'L', "ISO-8859-5"},  {'G', "ISO-8859-6"},  {'F', "ISO-8859-7"},  {'H', "ISO-8859-8"},
        {'M', "ISO-8859-9"},  {'V', "ISO-8859-10"}, {'T', "TIS-620"},     {'Y', "ISO-8859-13"},
        {'_', "ISO-8859-14"}, {'b', "ISO-8859-15"}, {'f', "ISO-8859-16"},
    };
    for (const auto& [key, encoding] : parts) {
        if (key == final) {
            return {encoding, 1, true};
        }
    }
    return {nullptr, 1, true};
}

Charset set94x94(char final) {
    switch (final) {
    case 'A':
        return {"EUC-CN", 2, true}; // GB 2312
    case '@':
    case 'B':
        return {"EUC-JP", 2, true}; // JIS X 0208
    case 'C':
        return {"EUC-KR", 2, true}; // KS C 5601
    default:
        return {nullptr, 2, true};
    }
}

// The encodings of extended segments (ESC % / F M L name STX bytes) that X clients write.
const char* extendedSegmentEncoding(const QByteArray& name) {
    const QByteArray lower = name.toLower();
    if (lower == "big5-0") {
        return "BIG5";
    }
    if (lower == "gbk-0") {
        return "GBK";
    }
    if (lower == "gb18030-0") {
        return "GB18030";
    }
    return nullptr;
}

// Appends the UTF-8 of characters of `width` bytes each; a character the encoding does not
// have, or one cut off at the end, becomes U+FFFD.
void appendDecoded(QByteArray& out, const char* encoding, QByteArrayView bytes, int width) {
    iconv_t converter = encoding ? iconv_open("UTF-8", encoding) : nullptr;
    // iconv_open reports failure as the descriptor (iconv_t)-1.
    if (converter == nullptr || reinterpret_cast<std::intptr_t>(converter) == -1) {
        for (qsizetype i = 0; i < bytes.size(); i += width) {
            out.append(kReplacement);
        }
        return;
    }
    QByteArray input = bytes.toByteArray();
    char* in = input.data();
    std::size_t inLeft = static_cast<std::size_t>(input.size());
    char buffer[256];
    while (inLeft > 0) {
        char* outAt = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t result = iconv(converter, &in, &inLeft, &outAt, &outLeft);
        out.append(buffer, outAt - buffer);
        if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
            out.append(kReplacement);
            const std::size_t skip = std::min(static_cast<std::size_t>(width), inLeft);
            in += skip;
            inLeft -= skip;
        }
    }
    iconv_close(converter);
}

class Reader {
public:
    explicit Reader(QByteArrayView text) : text_(text) {}

    QByteArray read() {
        while (at_ < text_.size()) {
            const auto b = byte(at_);
            if (b == 0x1B) {
                flush();
                readEscape();
            } else if (b == 0x9B) {
                flush();
                skipDirection();
            } else if ((b >= 0x21 && b <= 0x7E) || b >= 0xA0) {
                const Charset* set = b < 0x80 ? &gl_ : &gr_;
                if (set != runSet_) {
                    flush();
                    runSet_ = set;
                }
                run_.append(static_cast<char>(set->highBit ? (b | 0x80) : (b & 0x7F)));
                ++at_;
            } else {
                flush();
                // Space, tab and newline are text; other control bytes carry none.
                if (b == 0x20 || b == 0x09 || b == 0x0A) {
                    out_.append(static_cast<char>(b));
                }
                ++at_;
            }
        }
        flush();
        return out_;
    }

private:
    unsigned char byte(qsizetype i) const { return static_cast<unsigned char>(text_[i]); }

    void flush() {
        // A run is only ever started together with its charset.
        if (!run_.isEmpty() && runSet_ != nullptr) {
            appendDecoded(out_, runSet_->encoding, run_, runSet_->width);
            run_.clear();
        }
        runSet_ = nullptr;
    }

    // ESC, intermediate bytes 0x20-0x2F, a final byte 0x30-0x7E.
    void readEscape() {
        qsizetype k = at_ + 1;
        QByteArray intermediates;
        while (k < text_.size() && byte(k) >= 0x20 && byte(k) <= 0x2F) {
            intermediates.append(text_[k++]);
        }
        if (k >= text_.size() || byte(k) < 0x30 || byte(k) > 0x7E) {
            out_.append(kReplacement); // cut off, or broken by a byte that cannot end it
            at_ = k;
            return;
        }
        const char final = text_[k++];
        at_ = k;
        if (intermediates == "(") {
            gl_ = set94(final);
        } else if (intermediates == ")") {
            gr_ = set94(final);
        } else if (intermediates == "-") {
            gr_ = set96(final);
        } else if (intermediates == "$(" ||
                   (intermediates == "$" && (final == '@' || final == 'A' || final == 'B'))) {
            gl_ = set94x94(final);
        } else if (intermediates == "$)") {
            gr_ = set94x94(final);
        } else if (intermediates == "%" && final == 'G') {
            readUtf8Segment();
        } else if (intermediates == "%/" && final >= '0' && final <= '4') {
            readExtendedSegment();
        }
        // Any other sequence (ESC % @ outside UTF-8, unknown designations) changes nothing.
    }

    // UTF-8 up to ESC % @ or the end.
    void readUtf8Segment() {
        const qsizetype end = text_.indexOf(QByteArrayView("\x1B%@"), at_);
        const qsizetype stop = end < 0 ? text_.size() : end;
        out_.append(QString::fromUtf8(text_.sliced(at_, stop - at_)).toUtf8());
        at_ = end < 0 ? text_.size() : end + 3;
    }

    // Two length bytes M L (each with its high bit set), then that many bytes: the
    // encoding's name, STX, the text.
    void readExtendedSegment() {
        if (at_ + 2 > text_.size()) {
            out_.append(kReplacement);
            at_ = text_.size();
            return;
        }
        const qsizetype length = ((byte(at_) & 0x7F) << 7) | (byte(at_ + 1) & 0x7F);
        at_ += 2;
        const QByteArrayView segment = text_.sliced(at_, std::min(length, text_.size() - at_));
        at_ += segment.size();
        const qsizetype stx = segment.indexOf('\x02');
        const char* encoding =
            stx < 0 ? nullptr : extendedSegmentEncoding(segment.first(stx).toByteArray());
        if (!encoding || segment.size() < length) {
            out_.append(kReplacement);
            return;
        }
        appendDecoded(out_, encoding, segment.sliced(stx + 1), 1);
    }

    // CSI 1 ], CSI 2 ], CSI ]: the direction of the text that follows, which says nothing
    // about its characters.
    void skipDirection() {
        qsizetype k = at_ + 1;
        while (k < text_.size() && byte(k) >= 0x20 && byte(k) <= 0x3F) {
            ++k;
        }
        at_ = k < text_.size() && byte(k) >= 0x40 && byte(k) <= 0x7E ? k + 1 : k;
    }

    QByteArrayView text_;
    qsizetype at_ = 0;
    Charset gl_ = kAscii;
    Charset gr_ = kLatin1;
    QByteArray run_;
    const Charset* runSet_ = nullptr;
    QByteArray out_;
};

} // namespace

QByteArray compoundTextToUtf8(QByteArrayView text) {
    return Reader(text).read();
}

} // namespace morvane
