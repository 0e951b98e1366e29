#include <gtest/gtest.h>

#include <string>

#include "CommandLine.h"
#include "RuntimeError.h"

namespace ramtidy {
namespace {

using Kind = SplitArguments::Kind;

TEST(ArgumentText, SkipsThePathQuotedOrNot) {
    EXPECT_EQ(ArgumentText(u"\"C:\\Program Files\\ramtidy.exe\" MK1 /1"), u"MK1 /1");
    EXPECT_EQ(ArgumentText(u"ramtidy.exe   MK1 /1 "), u"MK1 /1 ");
    EXPECT_EQ(ArgumentText(u"ramtidy.exe\tMK1 /1"), u"MK1 /1");
    EXPECT_EQ(ArgumentText(u"ramtidy.exe"), u"");
    EXPECT_EQ(ArgumentText(u"\"ramtidy.exe\""), u"");
    EXPECT_EQ(ArgumentText(u"\"unterminated MK1 /1"), u"");
    EXPECT_EQ(ArgumentText(u""), u"");
}

TEST(SplitCommandLine, HandleAndSwitch) {
    SplitArguments s = SplitCommandLine(u"MK123 /MEMSTATUS");
    ASSERT_EQ(s.kind, Kind::Ok);
    EXPECT_EQ(s.handle_text, u"123");
    EXPECT_EQ(s.switch_text, u"/MEMSTATUS");
    EXPECT_EQ(MascotHandleOf(s, 32), 123);

    // Blanks around the whole text are ignored; tabs are not blanks.
    s = SplitCommandLine(u"   MK123 /MEMSTATUS  ");
    ASSERT_EQ(s.kind, Kind::Ok);
    EXPECT_EQ(s.handle_text, u"123");
    EXPECT_EQ(s.switch_text, u"/MEMSTATUS");
    s = SplitCommandLine(u"MK123 /1\t");
    EXPECT_EQ(s.switch_text, u"/1\t");

    // The two leading characters are never examined.
    s = SplitCommandLine(u"  #!-77 /SETTING");
    EXPECT_EQ(MascotHandleOf(s, 32), -77);
}

TEST(SplitCommandLine, SwitchKeepsInnerBlanksAndCase) {
    SplitArguments s = SplitCommandLine(u"MK123  /MEMSTATUS");
    EXPECT_EQ(s.switch_text, u" /MEMSTATUS");
    s = SplitCommandLine(u"MK123 /MEMSTATUS now");
    EXPECT_EQ(s.switch_text, u"/MEMSTATUS now");
    s = SplitCommandLine(u"MK123 /memstatus");
    EXPECT_EQ(s.switch_text, u"/memstatus");
}

TEST(SplitCommandLine, SilentEnds) {
    EXPECT_EQ(SplitCommandLine(u"").kind, Kind::Empty);
    EXPECT_EQ(SplitCommandLine(u"     ").kind, Kind::Empty);
    EXPECT_EQ(SplitCommandLine(u"MK123/MEMSTATUS").kind, Kind::NoBlank);
    EXPECT_EQ(SplitCommandLine(u"  M  ").kind, Kind::NoBlank);
    EXPECT_EQ(SplitCommandLine(u"MK123\t/1").kind, Kind::NoBlank);
}

TEST(SplitCommandLine, FirstBlankAtPositionTwoOrThree) {
    EXPECT_EQ(SplitCommandLine(u"M /MEMSTATUS").kind, Kind::BlankAtTwo);
    EXPECT_EQ(SplitCommandLine(u"  M /1").kind, Kind::BlankAtTwo);

    SplitArguments s = SplitCommandLine(u"MK /MEMSTATUS");
    ASSERT_EQ(s.kind, Kind::Ok);
    EXPECT_EQ(s.handle_text, u"");
    EXPECT_EQ(s.switch_text, u"/MEMSTATUS");
    EXPECT_EQ(MascotHandleOf(s, 32), 0);
}

TEST(MascotHandle, RoundingAndRange) {
    auto handle = [](const std::u16string& args) {
        return MascotHandleOf(SplitCommandLine(args), 32);
    };
    EXPECT_EQ(handle(u"MK12.5 /1"), 12);
    EXPECT_EQ(handle(u"MK13.5 /1"), 14);
    EXPECT_EQ(handle(u"MKabc /1"), 0);
    EXPECT_EQ(handle(u"MK2147483647 /1"), 2147483647);
    EXPECT_EQ(handle(u"MK-2147483648 /1"), -2147483648LL);
    EXPECT_EQ(handle(u"MK-2147483648.5 /1"), -2147483648LL);  // half goes to the even side
    try {
        handle(u"MK2147483647.5 /1");
        FAIL() << "no overflow";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code(), ErrorCode::Overflow);
    }
    EXPECT_THROW(handle(u"MK4294967296 /1"), RuntimeError);
}

// The 64-bit build reads the handle at the width of its window handles: what a 32-bit build
// refuses as too large fits, the same text gives the same value, and the range ends at 2^63.
TEST(MascotHandle, SixtyFourBitHandlesKeepTheirWholeWidth) {
    auto handle = [](const std::u16string& args) {
        return MascotHandleOf(SplitCommandLine(args), 64);
    };
    EXPECT_EQ(handle(u"MK123 /1"), 123);
    EXPECT_EQ(handle(u"MK-77 /1"), -77);
    EXPECT_EQ(handle(u"MK12.5 /1"), 12);
    EXPECT_EQ(handle(u"MK4294967296 /1"), 4294967296LL);
    EXPECT_EQ(handle(u"MK-2147483649 /1"), -2147483649LL);
    EXPECT_EQ(handle(u"MK-9223372036854775808 /1"), INT64_MIN);
    // 2^63 - 1 is no double; its nearest double is 2^63, which no 64-bit integer holds.
    EXPECT_THROW(handle(u"MK9223372036854775807 /1"), RuntimeError);
    EXPECT_THROW(handle(u"MK9223372036854775808 /1"), RuntimeError);
    EXPECT_THROW(handle(u"MK-9223372036854777856 /1"), RuntimeError);
    EXPECT_EQ(handle(u"MK9223372036854774784 /1"), 9223372036854774784LL);  // the last below
}

}  // namespace
}  // namespace ramtidy
