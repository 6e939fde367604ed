#include "capture/DelayedCapture.h"
#include "shell/HotkeyText.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace morvane;

TEST(HotkeyText, ModifierWordsMatchExactly) {
    EXPECT_EQ(ModifierFlags(QStringLiteral("Ctrl")), 2);
    EXPECT_EQ(ModifierFlags(QStringLiteral("Alt")), 1);
    EXPECT_EQ(ModifierFlags(QStringLiteral("Shift")), 4);
    for (const char* other : {"ctrl", " Ctrl", "Ctrl ", "Win", "", "CTRL", "Control"}) {
        EXPECT_EQ(ModifierFlags(QString::fromLatin1(other)), 0) << other;
    }
}

TEST(HotkeyText, KeyCodeIsTheFirstCharacterAsTyped) {
    EXPECT_EQ(hotkeyKeyCode(QStringLiteral("S")), 0x53u);
    EXPECT_EQ(hotkeyKeyCode(QStringLiteral("s")), 0x73u);
    EXPECT_EQ(hotkeyKeyCode(QStringLiteral("AB")), 0x41u);
    EXPECT_EQ(hotkeyKeyCode(QString()), std::nullopt);
    EXPECT_EQ(hotkeyKeyCode(QStringLiteral("中")), 0x4E2Du);
}

TEST(HotkeyText, KeyCodesNameTheirKeys) {
    EXPECT_EQ(keysymForKeyCode(0x53), 0x73u); // S: the letter key
    EXPECT_EQ(keysymForKeyCode(0x41), 0x61u);
    EXPECT_EQ(keysymForKeyCode(0x5A), 0x7Au);
    EXPECT_EQ(keysymForKeyCode(0x73), 0xFFC1u); // "s" typed in lower case is F4
    EXPECT_EQ(keysymForKeyCode(0x70), 0xFFBEu); // F1
    EXPECT_EQ(keysymForKeyCode(0x87), 0xFFD5u); // F24
    EXPECT_EQ(keysymForKeyCode(0x35), 0x35u);   // 5
    EXPECT_EQ(keysymForKeyCode(0x60), 0xFFB0u); // keypad 0
    EXPECT_EQ(keysymForKeyCode(0x6A), 0xFFAAu); // "j" typed in lower case is keypad *
    EXPECT_EQ(keysymForKeyCode(0x2C), 0xFF61u); // "," is the code of Print Screen
    EXPECT_EQ(keysymForKeyCode(0x20), 0x20u);
    EXPECT_EQ(keysymForKeyCode(0x4E2D), std::nullopt);
    EXPECT_EQ(keysymForKeyCode(0x07), std::nullopt);
    EXPECT_EQ(keysymForKeyCode(0x88), std::nullopt);
}

TEST(DelayText, LeadingNumberAsTyped) {
    const std::pair<const char*, double> cases[] = {
        {"5", 5},           {"2.5", 2.5},  {"3 秒", 3},  {"1 0", 10},    {"0.0005", 0.0005},
        {"65.535", 65.535}, {"1e1", 10},   {"-1", -1},   {"", 0},        {"abc", 0},
        {".5", 0.5},        {"+3", 3},     {"\t7\t", 7}, {"1.2.3", 1.2}, {"4e", 4},
        {"4e+", 4},         {"2E-1", 0.2}, {"- 2", -2},  {".", 0},       {"+", 0},
        {"12abc", 12},      {"1,5", 1},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_DOUBLE_EQ(readLeadingNumber(QString::fromUtf8(text)), value) << text;
    }
    EXPECT_TRUE(std::isinf(readLeadingNumber(QStringLiteral("1e999"))));
    EXPECT_EQ(readLeadingNumber(QStringLiteral("1e-999")), 0.0);
}

TEST(DelayText, MillisecondsRoundHalfToEvenWithinTheTimersRange) {
    EXPECT_EQ(delayMilliseconds(5), 5000);
    EXPECT_EQ(delayMilliseconds(2.5), 2500);
    EXPECT_EQ(delayMilliseconds(readLeadingNumber(QStringLiteral("0.0005"))), 0);
    EXPECT_EQ(delayMilliseconds(readLeadingNumber(QStringLiteral("0.0015"))), 2);
    EXPECT_EQ(delayMilliseconds(readLeadingNumber(QStringLiteral("0.0025"))), 2);
    EXPECT_EQ(delayMilliseconds(readLeadingNumber(QStringLiteral("65.535"))), 65535);
    EXPECT_EQ(delayMilliseconds(0), 0);
    EXPECT_EQ(delayMilliseconds(-0.0001), 0);
    EXPECT_EQ(delayMilliseconds(65.536), std::nullopt);
    EXPECT_EQ(delayMilliseconds(-1), std::nullopt);
    EXPECT_EQ(delayMilliseconds(HUGE_VAL), std::nullopt);
    EXPECT_EQ(delayMilliseconds(std::nan("")), std::nullopt);
}
