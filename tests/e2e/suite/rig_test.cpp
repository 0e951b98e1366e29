// The rig's own reports: a program the rig cannot start is named with the reason, so that a
// failed run says whether the program or the machine was at fault.
#include <gtest/gtest.h>

#include "child.h"

using namespace mk::test;

TEST(TestRig, AProgramThatCannotStartIsReportedWithItsErrorAndNotTriedAgain) {
    for (const wchar_t* name : {L"no-such-program.exe", L"no-such-dir\\mkctl.exe"}) {
        auto child = Child::Start(BinPath(name), L"");
        EXPECT_FALSE(child);
        std::string why = Child::StartFailure();
        // A missing file stays missing: one try, and its error (2 or 3) in the report.
        EXPECT_NE(why.find("CreateProcess failed with error "), std::string::npos) << why;
        EXPECT_NE(why.find("(1 of 3 tries)"), std::string::npos) << why;
    }
}
