// Broken surrogate pairs made safe to convert, and the integrity level read from a security
// identifier: both read what the system or a file name hands over.
#include <gtest/gtest.h>

#include <string>

#include "integrity.h"
#include "utf16.h"

namespace {

std::u16string Repaired(std::u16string s, unsigned* replaced) {
    s.push_back(u'\0');
    *replaced = MkReplaceUnpairedSurrogates(&s[0], u'?');
    s.pop_back();
    return s;
}

TEST(Utf16, OnlyHalvesOfBrokenPairsAreReplaced) {
    unsigned n = 0;
    // An emoji is a whole pair and stays.
    EXPECT_EQ(Repaired(u"a\U0001F600b", &n), u"a\U0001F600b");
    EXPECT_EQ(n, 0u);
    // A high half at the end, a low half alone, a high half before another high half.
    EXPECT_EQ(Repaired(std::u16string(u"x\xD83D"), &n), u"x?");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(Repaired(std::u16string(u"\xDE00y"), &n), u"?y");
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(Repaired(std::u16string(u"\xD83D\xD83D\xDE00"), &n), u"?\U0001F600");
    EXPECT_EQ(n, 1u);
    // Two low halves in a row after a pair.
    EXPECT_EQ(Repaired(std::u16string(u"\xD83D\xDE00\xDE00\xDE00"), &n), u"\U0001F600??");
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(Repaired(u"", &n), u"");
    EXPECT_EQ(n, 0u);
}

// A mandatory label's SID: S-1-16-<level>.
std::basic_string<unsigned char> LabelSid(unsigned long level) {
    return {1,
            1,
            0,
            0,
            0,
            0,
            0,
            16,
            static_cast<unsigned char>(level),
            static_cast<unsigned char>(level >> 8),
            static_cast<unsigned char>(level >> 16),
            static_cast<unsigned char>(level >> 24)};
}

TEST(Integrity, TheLevelIsTheLastSubAuthorityOfAWholeIdentifier) {
    auto medium = LabelSid(0x2000);
    EXPECT_EQ(MkSidLastRid(medium.data(), medium.size()), 0x2000ul);
    // S-1-5-21-1-2-3-1001: the last of five.
    const unsigned char user[] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0,    0, 1, 0,
                                  0, 0, 2, 0, 0, 0, 3, 0, 0,  0, 0xE9, 3, 0, 0};
    EXPECT_EQ(MkSidLastRid(user, sizeof user), 1001ul);
    // Cut short, another revision, no sub-authority, more than there can be: nothing is read
    // beyond the bytes given, and the level is unknown.
    EXPECT_EQ(MkSidLastRid(medium.data(), medium.size() - 1), kMkIntegrityUnknown);
    EXPECT_EQ(MkSidLastRid(user, sizeof user - 4), kMkIntegrityUnknown);
    auto revised = medium;
    revised[0] = 2;
    EXPECT_EQ(MkSidLastRid(revised.data(), revised.size()), kMkIntegrityUnknown);
    auto none = medium;
    none[1] = 0;
    EXPECT_EQ(MkSidLastRid(none.data(), none.size()), kMkIntegrityUnknown);
    std::basic_string<unsigned char> many(8 + 4 * 16, 0);
    many[0] = 1;
    many[1] = 16;
    EXPECT_EQ(MkSidLastRid(many.data(), many.size()), kMkIntegrityUnknown);
    EXPECT_EQ(MkSidLastRid(nullptr, 12), kMkIntegrityUnknown);
}

TEST(Integrity, OnlyAWindowOfALowerLevelIsRefused) {
    const unsigned long low = 0x1000, medium = 0x2000, high = 0x3000;
    EXPECT_TRUE(MkIntegrityAllowsController(medium, medium));
    EXPECT_TRUE(MkIntegrityAllowsController(medium, high));
    EXPECT_FALSE(MkIntegrityAllowsController(medium, low));
    EXPECT_FALSE(MkIntegrityAllowsController(high, medium));
    // What the system cannot tell refuses nothing.
    EXPECT_TRUE(MkIntegrityAllowsController(kMkIntegrityUnknown, low));
    EXPECT_TRUE(MkIntegrityAllowsController(high, kMkIntegrityUnknown));
}

}  // namespace
