#include <gtest/gtest.h>

#include <vector>

#include "HoldPoints.h"

namespace ramtidy {
namespace {

TEST(HoldPoints, ListOfStepsStartAndRelease) {
    HoldPoints p = ParseHoldPoints(u"0,500,release");
    EXPECT_TRUE(p.before_claims);
    EXPECT_EQ(p.steps, std::vector<int32_t>({500}));
    EXPECT_TRUE(p.before_release);

    // Any order, duplicates and blanks around the items.
    p = ParseHoldPoints(u" 700 ,\t3,700,release , 1");
    EXPECT_FALSE(p.before_claims);
    EXPECT_EQ(p.steps, std::vector<int32_t>({1, 3, 700}));
    EXPECT_TRUE(p.before_release);
    EXPECT_EQ(p.NextStepAfter(0), 1);
    EXPECT_EQ(p.NextStepAfter(1), 3);
    EXPECT_EQ(p.NextStepAfter(5), 700);
    EXPECT_EQ(p.NextStepAfter(700), kNoHoldStep);
}

TEST(HoldPoints, UnknownItemsAreIgnored) {
    for (const char16_t* text : {u"", u",", u"x", u"-5", u"+5", u"5x", u"1.5", u"Release",
                                 u"release5", u"99999999999", u"2147483648", u"１"}) {
        HoldPoints p = ParseHoldPoints(text);
        EXPECT_TRUE(p.empty()) << std::u16string(text).size();
        EXPECT_EQ(p.NextStepAfter(0), kNoHoldStep);
    }
    HoldPoints p = ParseHoldPoints(u"abc,2147483647,,00012");
    EXPECT_EQ(p.steps, std::vector<int32_t>({12, 2147483647}));
    EXPECT_FALSE(p.before_release);
}

}  // namespace
}  // namespace ramtidy
