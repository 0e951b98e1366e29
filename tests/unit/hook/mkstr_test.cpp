// The library's own byte-string helpers: it has no C runtime to lean on.
#include <gtest/gtest.h>

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
