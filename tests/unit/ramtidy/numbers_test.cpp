#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "Numbers.h"
#include "RuntimeError.h"

namespace ramtidy {
namespace {

TEST(ReadNumber, DecimalPrefix) {
    EXPECT_EQ(ReadNumber(u"50"), 50.0);
    EXPECT_EQ(ReadNumber(u"   12.5xyz"), 12.5);
    EXPECT_EQ(ReadNumber(u"-5"), -5.0);
    EXPECT_EQ(ReadNumber(u"+7.25"), 7.25);
    EXPECT_EQ(ReadNumber(u".5"), 0.5);
    EXPECT_EQ(ReadNumber(u"-.5"), -0.5);
    EXPECT_EQ(ReadNumber(u"5."), 5.0);
    EXPECT_EQ(ReadNumber(u"007"), 7.0);
    EXPECT_EQ(ReadNumber(u"1.2.3"), 1.2);
}

TEST(ReadNumber, NoNumberReadsZero) {
    for (const char16_t* text :
         {u"", u"   ", u"abc", u"-", u"+", u".", u"-.", u"/50", u"\t5", u"+-1", u"&H10", u"５０"})
        EXPECT_EQ(ReadNumber(text), 0.0);
}

TEST(ReadNumber, FormsTheControllerNeverWrites) {
    EXPECT_EQ(ReadNumber(u"1e3"), 1.0);    // no exponent
    EXPECT_EQ(ReadNumber(u"1 000"), 1.0);  // no blanks inside
    EXPECT_EQ(ReadNumber(u"0x1F"), 0.0);   // no hexadecimal prefix
    EXPECT_EQ(ReadNumber(u"- 5"), 0.0);
}

TEST(ReadNumber, ExtremeDigitStrings) {
    std::u16string huge(400, u'9');
    try {
        ReadNumber(huge);
        FAIL() << "no overflow";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code(), ErrorCode::Overflow);
    }
    std::u16string tiny = u"0." + std::u16string(400, u'0') + u"1";
    EXPECT_EQ(ReadNumber(tiny), 0.0);
    std::u16string long_fraction = u"2." + std::u16string(500, u'5');
    EXPECT_NEAR(ReadNumber(long_fraction), 2.5555555555555554, 1e-15);
}

TEST(RoundHalfEven, HalvesGoToEven) {
    EXPECT_EQ(RoundHalfEven(12.5), 12.0);
    EXPECT_EQ(RoundHalfEven(13.5), 14.0);
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(255.48), 255.0);
    EXPECT_EQ(RoundHalfEven(46.95), 47.0);
    EXPECT_EQ(RoundHalfEven(-0.4), 0.0);
    EXPECT_EQ(RoundHalfEven(1e300), 1e300);
}

TEST(RoundToInt, RangeChecks) {
    EXPECT_EQ(RoundToInt32(2147483647.4, "x"), 2147483647);
    EXPECT_EQ(RoundToInt32(-2147483648.5, "x"), INT32_MIN);
    EXPECT_THROW(RoundToInt32(2147483647.5, "x"), RuntimeError);
    EXPECT_THROW(RoundToInt32(-2147483649.0, "x"), RuntimeError);
    EXPECT_THROW(RoundToInt32(NAN, "x"), RuntimeError);
    EXPECT_THROW(RoundToInt32(INFINITY, "x"), RuntimeError);
    EXPECT_EQ(RoundToInt16(32767.5 - 1, "x"), 32766);
    EXPECT_EQ(RoundToInt16(-32768.5, "x"), -32768);
    EXPECT_THROW(RoundToInt16(32767.5, "x"), RuntimeError);
    try {
        RoundToInt16(1e6, "The green part");
        ADD_FAILURE() << "no overflow";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code(), ErrorCode::Overflow);
        EXPECT_NE(std::string(e.what()).find("The green part"), std::string::npos);
    }
}

TEST(Decimal, SignAndDigitsOnly) {
    EXPECT_EQ(Decimal(0), u"0");
    EXPECT_EQ(Decimal(-42), u"-42");
    EXPECT_EQ(Decimal(INT32_MIN), u"-2147483648");
}

}  // namespace
}  // namespace ramtidy
