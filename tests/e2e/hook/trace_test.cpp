// The trace of the hook's decisions, read through mktrace.exe as a user would.
#include <gtest/gtest.h>

#include <cstdio>

#include "host_fixture.h"
#include "text.h"

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
        // A name the code page cannot write: a file that has a short name goes by it; one
        // that has none (as on volumes without 8.3 names) reaches the controller with "?".
        wchar_t dir[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, dir);
        const std::wstring korean = std::wstring(dir) + L"추적.txt";
        HANDLE file =
            CreateFileW(korean.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
        host.Do("drop " + mk::tools::WideToUtf8(korean));
        DeleteFileW(korean.c_str());
        host.Do("drop C:\\없는 파일.txt");
        // A controller that stalls after the title: the host's line says it went on, the
        // worker's line later how the exchange ended.
        ASSERT_FALSE(ctl.Ask("stallaftertitle 6000 once", "STALLAFTERTITLE").empty());
        host.Do("drop C:\\stalled.txt");
        ASSERT_TRUE(ctl.child->Expect(
            "WM_USER+4 wParam=" + std::to_string(host.tmainform) + " title=C:\\stalled.txt",
            nullptr));
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
        EXPECT_TRUE(AnyContains(lines, {pid, "WM_DROPFILES class=Tmainform",
                                        ": forwarded; sent by its short name, the code page "
                                        "cannot write the long one ("}))
            << testing::PrintToString(lines);
        EXPECT_TRUE(AnyContains(lines, {pid, "WM_DROPFILES class=Tmainform",
                                        ": forwarded; the code page cannot write the name and "
                                        "the file has no short name"}))
            << testing::PrintToString(lines);
        EXPECT_TRUE(AnyContains(lines, {pid, "controller slow: the host went on after 5 s"}))
            << testing::PrintToString(lines);
        EXPECT_TRUE(AnyContains(lines, {pid, "controller slow: forwarded after "}))
            << testing::PrintToString(lines);
        // The image was read for the first handled message, and only then.
        int image_reads = 0;
        for (const auto& line : lines)
            image_reads += line.find("the image of this process, read once") != std::string::npos;
        EXPECT_EQ(image_reads, 1) << testing::PrintToString(lines);
        EXPECT_EQ(trace->CloseAndWait(), 0u);
        EXPECT_TRUE(trace->Expect("mktrace: trace off"));
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
    // The host went on as usual: every drop on its main window was forwarded.
    ControllerLines(ctl);
    EXPECT_EQ(WithPrefix(ctl.child->All(), "WM_USER+4 ").size(), 5u);
    EXPECT_TRUE(host.Quit());
}

TEST(Trace, SaysForwardedOnlyForWhatReachedTheController) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    auto trace = Child::Start(BinPath(L"mktrace.exe"), L"");
    ASSERT_TRUE(trace);
    ASSERT_TRUE(trace->Expect("mktrace: trace on"));
    Sleep(1200);  // each process looks for the switch at most twice a second
    const std::string pid = std::to_string(host.pid) + " ";

    // No window titled "MK_GETMSG_WND": the command and the drop go nowhere, and say so.
    ASSERT_FALSE(ctl.Ask("destroywindow", "WINDOW destroyed").empty());
    host.Do("command 1000 0 tputil");
    host.Do("drop C:\\nowhere.txt");
    host.Settle();
    auto lines = TraceLines(*trace, 1000);
    EXPECT_TRUE(
        AnyContains(lines, {pid, "WM_COMMAND class=TPUtilWindow", ": no controller window ("}))
        << testing::PrintToString(lines);
    EXPECT_TRUE(
        AnyContains(lines, {pid, "WM_DROPFILES class=Tmainform", ": no controller window ("}))
        << testing::PrintToString(lines);
    EXPECT_FALSE(AnyContains(lines, {pid, "forwarded"})) << testing::PrintToString(lines);

    // With the window back, the command's line comes once the controller has it.
    ASSERT_FALSE(ctl.Ask("createwindow", "WINDOW hwnd=").empty());
    host.Do("command 1000 0 tputil");
    host.Settle();
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+0 ").size(), 1u);
    lines = TraceLines(*trace, 1000);
    EXPECT_TRUE(AnyContains(lines, {pid, "WM_COMMAND class=TPUtilWindow", ": forwarded ("}))
        << testing::PrintToString(lines);
    EXPECT_EQ(trace->CloseAndWait(), 0u);
    EXPECT_TRUE(host.Quit());
}
