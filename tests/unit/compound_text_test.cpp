#include "platform/CompoundText.h"

#include <QString>
#include <gtest/gtest.h>

using namespace morvane;

TEST(CompoundText, CharsetsSwitchByEscapesAndBadBytesBecomeReplacements) {
    const struct {
        QByteArray compound;
        const char* utf8;
    } cases[] = {
        {"\x1b$)A\xd6\xd0\xce\xc4", "中文"},     // GB 2312 in GR
        {"\x1b$(AVPND", "中文"},                 // GB 2312 in GL
        {"Caf\xe9", "Café"},                     // GR is Latin-1 at first
        {"a\xa0z", "a\u00a0z"},                  // its no-break space too
        {"\x1b-F\xe1\x1b-A\xe1", "αá"},          // ISO 8859-7, then -1
        {"ab\x1b$)A\xd6\xd0\x1b(Bcd", "ab中cd"}, // ASCII around GB 2312
        {"\x1b$)B\xc6\xfc\xcb\xdc", "日本"},     // JIS X 0208
        {"\x1b$)C\xc7\xd1", "한"},               // KS C 5601
        {"x\x1b%G\xe2\x82\xac\x1b%@y", "x€y"},   // a UTF-8 segment
        {"\x1b%/1\x80\x89"
         "big5-0\x02\xa4\xa4",
         "中"}, // an extended segment
        {"\x9b"
         "1]a\x9b]\tb\x01",
         "a\tb"},             // direction and a control
        {"a\x1b", "a\uFFFD"}, // cut-off escapes
        {"\x1b$)", "\uFFFD"},
        {"\x1b$)A\xd6", "\uFFFD"},     // half a character
        {"\x1b$)A\xff\xff", "\uFFFD"}, // not in GB 2312
        {"\x1b$)Z\xd6\xd0", "\uFFFD"}, // an unknown charset
        {"\x1b%/1\x80\xff"
         "big5-0\x02",
         "\uFFFD"}, // a segment longer than the text
        {"\x1b%G\xff", "\uFFFD"},
    };
    for (const auto& [compound, utf8] : cases) {
        EXPECT_EQ(compoundTextToUtf8(compound), QByteArray(utf8)) << compound.toHex().constData();
    }
    // Text cut anywhere still reads as valid UTF-8.
    const QByteArray mixed = "a\x1b$)A\xd6\xd0\x1b%G\xe2\x82\xac\x1b%@\x1b%/1\x80\x89"
                             "big5-0\x02\xa4\xa4";
    for (qsizetype cut = 0; cut <= mixed.size(); ++cut) {
        const QByteArray text = compoundTextToUtf8(mixed.first(cut));
        EXPECT_EQ(QString::fromUtf8(text).toUtf8(), text) << cut;
    }
}
