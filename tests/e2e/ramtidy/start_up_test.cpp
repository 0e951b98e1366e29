// Start-up: silent ends without a usable command line, and error stops.
#include <gtest/gtest.h>

#include "ramtidy_e2e.h"
#include "winutil.h"

namespace ramtidy_e2e {
namespace {

TEST(RamtidyStartUp, EndsSilentlyWithoutArgumentsOrBlank) {
    MascotSink sink;
    std::wstring h = std::to_wstring(sink.handle());
    for (const std::wstring& args :
         {std::wstring(), std::wstring(L"     "), L"MK" + h + L"/MEMSTATUS", L"MK" + h}) {
        auto child = StartRamtidy(args);
        ASSERT_TRUE(child);
        EXPECT_EQ(child->Wait(), 0u) << Narrow(args);
    }
    EXPECT_TRUE(sink.Requests().empty());
}

struct ErrorCase {
    std::wstring args;
    std::optional<std::wstring> stored;
    unsigned code;
    const char* says;
};

void ExpectErrorStop(const ErrorCase& c, MascotSink& sink) {
    SettingGuard guard;
    if (c.stored)
        SettingGuard::Set(*c.stored);
    auto child = StartRamtidy(c.args);
    ASSERT_TRUE(child);
    std::optional<std::wstring> box = TakeErrorBox(child->pid());
    ASSERT_TRUE(box) << Narrow(c.args);
    std::string text = Narrow(*box);
    EXPECT_EQ(text.rfind("ramtidy|", 0), 0u) << text;
    EXPECT_NE(text.find("Run-time error '" + std::to_string(c.code) + "'"), std::string::npos)
        << text;
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(child->Wait(), c.code);
    EXPECT_TRUE(sink.Requests().empty()) << text;
}

TEST(RamtidyStartUp, ErrorStopsShowTheirBoxAndSendNothing) {
    MascotSink sink;
    std::wstring h = std::to_wstring(sink.handle());
    std::vector<ErrorCase> cases = {
        {L"M /MEMSTATUS", std::nullopt, 5, "no room for the mascot window handle"},
        {L"MK99999999999 /MEMSTATUS", std::nullopt, 6, "Overflow"},
        {L"MK" + h + L" /MEMSTATUS", L"Maybe", 13, "ShowWnd"},
        {L"MK" + h + L" /" + std::wstring(400, L'9'), L"False", 6, "Overflow"},
    };
    for (const ErrorCase& c : cases)
        ExpectErrorStop(c, sink);
}

}  // namespace
}  // namespace ramtidy_e2e
