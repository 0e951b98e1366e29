// The library's own byte-string helpers: it has no C runtime to lean on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mkstr.h"

TEST(MkStr, EqualityIsWholeStringAndCaseSensitive) {
    EXPECT_TRUE(MkStrEqual("Tmainform", "Tmainform"));
    EXPECT_FALSE(MkStrEqual("Tmainform", "TMainForm"));
    EXPECT_FALSE(MkStrEqual("Tmainform", "Tmainform2"));
    EXPECT_FALSE(MkStrEqual("Tmainform2", "Tmainform"));
    EXPECT_TRUE(MkStrEqual("", ""));
    EXPECT_FALSE(MkStrEqual("", "T"));
    // Shift_JIS bytes compare as bytes (high bit set).
    EXPECT_TRUE(
        MkStrEqual("\x83w\x83"
                   "b",
                   "\x83w\x83"
                   "b"));
    EXPECT_FALSE(MkStrEqual("\x83w", "\x83x"));
}

// The decimal form handles take in the notice's "HWnd" line, whatever the pointer width:
// the same text as "%ld" of the value, down to the extremes.
TEST(MkStr, DecimalIsSignedAndKeepsTheWholeWidth) {
    char text[kMkDecimalBytes];
    auto dec = [&](intptr_t v) {
        int n = MkDecimal(v, text);
        EXPECT_EQ(static_cast<size_t>(n), strlen(text));
        return std::string(text);
    };
    EXPECT_EQ(dec(0), "0");
    EXPECT_EQ(dec(7), "7");
    EXPECT_EQ(dec(65548), "65548");
    EXPECT_EQ(dec(-1), "-1");
    // A 32-bit handle with its high bit set is negative, as "%ld" has always written it.
    EXPECT_EQ(dec(static_cast<int32_t>(0x80001234)), "-2147478988");
    EXPECT_EQ(dec(INTPTR_MAX), std::to_string(INTPTR_MAX));
    EXPECT_EQ(dec(INTPTR_MIN), std::to_string(INTPTR_MIN));
    if (sizeof(intptr_t) == 8) {
        EXPECT_EQ(dec(static_cast<intptr_t>(0x123456789LL)), "4886718345");
    }
}
