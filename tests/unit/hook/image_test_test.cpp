// The image test: lower-casing that spares Shift_JIS characters, then a byte search.
#include "image_test.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Lowered(std::string s) {
    s.push_back('\0');
    MkLowerImagePath(&s[0], static_cast<unsigned>(s.size()));
    s.pop_back();
    return s;
}

bool FirstKind(const std::string& path) {
    std::string s = Lowered(path);
    return MkIsFirstKindHost(s.c_str(), static_cast<unsigned>(s.size() + 1));
}

bool SecondKind(const std::string& path) {
    std::string s = Lowered(path);
    return MkIsSecondKindHost(s.c_str(), static_cast<unsigned>(s.size() + 1));
}

TEST(ImageTest, LowersAsciiLettersAndSparesDoubleByteCharacters) {
    EXPECT_EQ(Lowered("C:\\Program Files\\SSP\\SSP.EXE"), "c:\\program files\\ssp\\ssp.exe");
    // "ア" is 0x83 0x41: its second byte is an "A" and must stay one.
    EXPECT_EQ(Lowered("\x83\x41"
                      "B\x83\x41"),
              "\x83\x41"
              "b\x83\x41");
    // Single-byte katakana (0xA1-0xDF) are not lead bytes: the letter after one is lowered.
    EXPECT_EQ(Lowered("\xb1"
                      "A"),
              "\xb1"
              "a");
    // A lead byte at the end has no second byte to spare; the terminator stays.
    EXPECT_EQ(Lowered("AB\x83"), "ab\x83");
    // Only `capacity` bytes are touched, terminator or not.
    char raw[4] = {'A', 'B', 'C', 'D'};
    MkLowerImagePath(raw, 2);
    EXPECT_EQ(std::string(raw, 4), "abCD");
}

TEST(ImageTest, RecognisesTheHostsAnywhereInThePathInAnyCase) {
    EXPECT_TRUE(FirstKind("sakura.exe"));
    EXPECT_TRUE(FirstKind("C:\\Ghost\\SAKURA.EXE"));
    EXPECT_TRUE(FirstKind("mysakura.exe"));  // the tail of a longer name counts
    EXPECT_TRUE(FirstKind("Embryo.Exe"));
    EXPECT_TRUE(SecondKind("D:\\SSP\\SSP.EXE"));
    EXPECT_FALSE(FirstKind("ssp.exe"));
    EXPECT_FALSE(SecondKind("sakura.exe"));
    EXPECT_FALSE(FirstKind("sakura.ex"));
    EXPECT_FALSE(SecondKind(""));
    EXPECT_FALSE(FirstKind("mkhost.exe"));
}

TEST(ImageTest, ADoubleByteCharacterCannotCompleteAName) {
    // "ゴ" is 0x83 0x53 ("S"). Lowering its second byte would turn "ゴSP.EXE" into a name
    // containing "ssp.exe".
    EXPECT_FALSE(
        SecondKind("\x83\x53"
                   "SP.EXE"));
    EXPECT_TRUE(
        SecondKind("\x83\x53"
                   "SSP.EXE"));
}

TEST(ImageTest, SearchStaysWithinCapacity) {
    const char unterminated[7] = {'s', 's', 'p', '.', 'e', 'x', 'e'};
    EXPECT_TRUE(MkImagePathContains(unterminated, 7, "ssp.exe"));
    EXPECT_FALSE(MkImagePathContains(unterminated, 6, "ssp.exe"));
    EXPECT_TRUE(MkImagePathContains("abc", 4, ""));
}

TEST(ImageTest, SearchFindsTheNameAnywhereAfterAFailedPartialMatch) {
    EXPECT_TRUE(MkImagePathContains("sspssp.exe", 260, "ssp.exe"));
    EXPECT_TRUE(MkImagePathContains("c:\\sakura\\mysakura.exe.bak", 260, "sakura.exe"));
    EXPECT_FALSE(MkImagePathContains("ssp.ex", 260, "ssp.exe"));
    EXPECT_FALSE(MkImagePathContains("SSP.EXE", 260, "ssp.exe"));  // lowered first by the caller
    EXPECT_FALSE(MkImagePathContains("", 260, "ssp.exe"));
}

}  // namespace
