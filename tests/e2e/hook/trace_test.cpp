// The trace of the hook's decisions, read through mktrace.exe as a user would.
#include <gtest/gtest.h>

#include <cstdio>

#include "host_fixture.h"

using namespace mk::test;

namespace {

// The library's lines among what mktrace printed so far, after waiting `quiet_ms` for more.
std::vector<std::string> TraceLines(Child& trace, DWORD quiet_ms) {
    std::vector<std::string> lines;
    for (const auto& line : trace.Unread(quiet_ms))
        if (line.find(" mkhook: ") != std::string::npos)
            lines.push_back(line);
    return lines;
}

bool AnyContains(const std::vector<std::string>& lines, const std::vector<std::string>& parts) {
    for (const auto& line : lines) {
        bool all = true;
        for (const auto& part : parts)
            all = all && line.find(part) != std::string::npos;
        if (all)
            return true;
    }
    return false;
}

}  // namespace

TEST(Trace, SaysWhatTheHookDecidedOnlyWhileSwitchedOn) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    {
        auto trace = Child::Start(BinPath(L"mktrace.exe"), L"");
        ASSERT_TRUE(trace);
        ASSERT_TRUE(trace->Expect("mktrace: trace on"));
        Sleep(1200);  // each process looks for the switch at most twice a second
        host.Do("initmenu");
        host.Do("drop C:\\traced.txt");
        host.Do("drop tputil C:\\elsewhere.txt");
        auto lines = TraceLines(*trace, 1000);
        for (const auto& line : lines)
            std::printf("%s\n", line.c_str());
        std::string pid = std::to_string(host.pid) + " ";
        EXPECT_TRUE(AnyContains(lines, {pid, "WM_INITMENU class=TPUtilWindow",
                                        "image=sakura.exe|embryo.exe: inserted at 2 (", " us)"}))
            << testing::PrintToString(lines);
        EXPECT_TRUE(AnyContains(lines, {pid, "WM_DROPFILES class=Tmainform",
                                        "image=sakura.exe|embryo.exe: forwarded ("}))
            << testing::PrintToString(lines);
        EXPECT_TRUE(AnyContains(lines, {pid,
                                        "WM_DROPFILES class=TPUtilWindow image=-: not a host "
                                        "window class ("}))
            << testing::PrintToString(lines);
        EXPECT_EQ(trace->CloseAndWait(), 0u);
        EXPECT_TRUE(trace->Expect("mktrace: trace off", nullptr, 5000));
    }
    {
        // Switched off: the same messages write nothing.
        auto listener = Child::Start(BinPath(L"mktrace.exe"), L"--listen");
        ASSERT_TRUE(listener);
        ASSERT_TRUE(listener->Expect("mktrace: listening"));
        Sleep(1200);
        host.Do("initmenu");
        host.Do("drop C:\\untraced.txt");
        EXPECT_TRUE(TraceLines(*listener, 1000).empty());
        EXPECT_EQ(listener->CloseAndWait(), 0u);
    }
    // The host went on as usual: both drops were forwarded.
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 ").size(), 2u);
    EXPECT_TRUE(host.Quit());
}
