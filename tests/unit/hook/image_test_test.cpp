// The image test: lower-casing of A to Z, then a search character by character, on the name in
// UTF-16 as the system keeps it.
#include "image_test.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Lowered(std::u16string s) {
    s.push_back(u'\0');
    MkLowerImagePath(&s[0], static_cast<unsigned>(s.size()));
    s.pop_back();
    return s;
}

bool FirstKind(const std::u16string& path) {
    std::u16string s = Lowered(path);
    return MkIsFirstKindHost(s.c_str(), static_cast<unsigned>(s.size() + 1));
}

bool SecondKind(const std::u16string& path) {
    std::u16string s = Lowered(path);
    return MkIsSecondKindHost(s.c_str(), static_cast<unsigned>(s.size() + 1));
}

TEST(ImageTest, LowersOnlyTheCapitalsAToZ) {
    EXPECT_EQ(Lowered(u"C:\\Program Files\\SSP\\SSP.EXE"), u"c:\\program files\\ssp\\ssp.exe");
    // Full-width capitals and accented ones are other characters, and stay.
    EXPECT_EQ(Lowered(u"ＳＳＰ.EXE"), u"ＳＳＰ.exe");
    EXPECT_EQ(Lowered(u"ÉSSP.EXE"), u"Éssp.exe");
    // Only `capacity` characters are touched, terminator or not.
    char16_t raw[4] = {u'A', u'B', u'C', u'D'};
    MkLowerImagePath(raw, 2);
    EXPECT_EQ(std::u16string(raw, 4), u"abCD");
}

TEST(ImageTest, RecognisesTheHostsAnywhereInThePathInAnyCase) {
    EXPECT_TRUE(FirstKind(u"sakura.exe"));
    EXPECT_TRUE(FirstKind(u"C:\\Ghost\\SAKURA.EXE"));
    EXPECT_TRUE(FirstKind(u"mysakura.exe"));  // the tail of a longer name counts
    EXPECT_TRUE(FirstKind(u"Embryo.Exe"));
    EXPECT_TRUE(FirstKind(u"C:\\ゴースト\\sakura.exe"));
    EXPECT_TRUE(SecondKind(u"D:\\SSP\\SSP.EXE"));
    EXPECT_FALSE(FirstKind(u"ssp.exe"));
    EXPECT_FALSE(SecondKind(u"sakura.exe"));
    EXPECT_FALSE(FirstKind(u"sakura.ex"));
    EXPECT_FALSE(SecondKind(u""));
    EXPECT_FALSE(FirstKind(u"mkhost.exe"));
}

TEST(ImageTest, NoCharacterLendsPartOfItselfToAName) {
    // In Shift_JIS the second byte of "ピ" (0x83 0x73) is an "s", of "市" (0x8E 0x73) too, of
    // "ゴ" (0x83 0x53) an "S": byte for byte these names held a host's name.
    EXPECT_FALSE(FirstKind(u"ピakura.exe"));
    EXPECT_FALSE(SecondKind(u"市sp.exe"));
    EXPECT_FALSE(SecondKind(u"ゴSP.EXE"));
    EXPECT_TRUE(SecondKind(u"ゴSSP.EXE"));
    // A look-alike is not the name: best-fit turns these into "sakura.exe" and "ssp.exe" on
    // Western code pages.
    EXPECT_FALSE(FirstKind(u"ｓａｋｕｒａ.exe"));
    EXPECT_FALSE(SecondKind(u"ѕѕр.exe"));  // Cyrillic dze, dze, er
    // Half of a surrogate pair is no letter either.
    EXPECT_FALSE(SecondKind(u"\xD800sp.exe"));
}

TEST(ImageTest, SearchStaysWithinCapacity) {
    const char16_t unterminated[7] = {u's', u's', u'p', u'.', u'e', u'x', u'e'};
    EXPECT_TRUE(MkImagePathContains(unterminated, 7, "ssp.exe"));
    EXPECT_FALSE(MkImagePathContains(unterminated, 6, "ssp.exe"));
    EXPECT_TRUE(MkImagePathContains(u"abc", 4, ""));
}

TEST(ImageTest, SearchFindsTheNameAnywhereAfterAFailedPartialMatch) {
    EXPECT_TRUE(MkImagePathContains(u"sspssp.exe", 260, "ssp.exe"));
    EXPECT_TRUE(MkImagePathContains(u"c:\\sakura\\mysakura.exe.bak", 260, "sakura.exe"));
    EXPECT_FALSE(MkImagePathContains(u"ssp.ex", 260, "ssp.exe"));
    EXPECT_FALSE(MkImagePathContains(u"SSP.EXE", 260, "ssp.exe"));  // lowered first by the caller
    EXPECT_FALSE(MkImagePathContains(u"", 260, "ssp.exe"));
}

}  // namespace
