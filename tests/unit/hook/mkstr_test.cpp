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

TEST(MkStr, ContainsFindsSubstringsAnywhere) {
    EXPECT_TRUE(MkStrContains("c:\\program files\\sakura\\sakura.exe", "sakura.exe"));
    EXPECT_TRUE(MkStrContains("mysakura.exe.bak", "sakura.exe"));
    EXPECT_TRUE(MkStrContains("ssp.exe", "ssp.exe"));
    EXPECT_FALSE(MkStrContains("ssp.ex", "ssp.exe"));
    EXPECT_FALSE(MkStrContains("", "hwnd"));
    EXPECT_TRUE(MkStrContains("", ""));
    EXPECT_TRUE(MkStrContains("hwnd", ""));
    // A partial match that fails must not skip the real one.
    EXPECT_TRUE(MkStrContains("hhwnd", "hwnd"));
    EXPECT_TRUE(MkStrContains("sspssp.exe", "ssp.exe"));
    EXPECT_FALSE(MkStrContains("SSP.EXE", "ssp.exe"));
}

TEST(MkStr, LengthCountsBytesUpToTheZero) {
    EXPECT_EQ(MkStrLen(""), 0u);
    EXPECT_EQ(MkStrLen("abc"), 3u);
    EXPECT_EQ(MkStrLen("\x83w\x83"
                       "b"),
              4u);
}
