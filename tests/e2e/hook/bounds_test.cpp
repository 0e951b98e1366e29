// Drops and the trace when the programs around the host do not play their part: a controller
// that never answers a drop, one that takes its title back late or never, a debug-output
// reader that never reads. The host goes on within the library's bounds, each drop reaches the
// controller with its own path or not at all, and nothing of the library stays in the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "titled_window.h"

using namespace mk::test;

namespace {

// A drop's exchange ends this long after the drop at the latest, forwarded or not.
const DWORD kDropExchangeMs = 60000;

}  // namespace

TEST(BoundedDrops, DropsToAControllerThatNeverAnswersEndWithinTheirBoundAndLeaveNothing) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    // The controller's window goes; a window of this process takes its title, and every drop
    // it is handed, and answers none.
    ASSERT_FALSE(ctl.Ask("destroywindow", "WINDOW destroyed").empty());
    {
        TitledWindow deaf(TitledWindow::Drops::NeverAnswer);
        const DWORD start = GetTickCount();
        for (const char* path : {"drop C:\\first.txt", "drop C:\\second.txt"}) {
            auto lines = host.Do(path);
            EXPECT_EQ(WithPrefix(lines, "HOST WM_DROPFILES window=tmainform count=1").size(), 1u);
        }
        const DWORD host_ms = GetTickCount() - start;
        // One exchange at a time: the second drop reaches the window only once the first one's
        // exchange has given up, 60 s after its drop.
        ASSERT_TRUE(WaitUntil([&] { return WithPrefix(deaf.Received(), "WM_USER+4 ").size() == 2; },
                              kDropExchangeMs + RigLimit()));
        const DWORD second_ms = GetTickCount() - start;
        EXPECT_EQ(WithPrefix(deaf.Received(), "WM_USER+4 "),
                  (std::vector<std::string>{DropLine(host.tmainform, "C:\\first.txt"),
                                            DropLine(host.tmainform, "C:\\second.txt")}));
        EXPECT_GE(second_ms, kDropExchangeMs - 1000);
        // Every worker ends within its bound, and the window has its title back.
        host.Settle();
        const DWORD ended_ms = GetTickCount() - start;
        EXPECT_EQ(deaf.Title(), "MK_GETMSG_WND");
        std::printf(
            "a controller that never answers: the host went on after %lu ms for two drops, the "
            "second reached it after %lu ms, every worker had ended after %lu ms\n",
            host_ms, second_ms, ended_ms);
    }
    // HookExit, and the host has nothing of the library running.
    EXPECT_EQ(FieldLong(ctl.Exit(), "result"), 0);
    host.Settle();
    EXPECT_TRUE(host.Quit());
}

TEST(TitleBack, AControllerThatTakesItsTitleBackByAPostedMessageReadsEachDropsOwnPath) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    ASSERT_FALSE(ctl.Ask("titleback post", "TITLEBACK").empty());
    Host sakura = Host::Start(L"sakura.exe");
    ASSERT_TRUE(sakura.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    // Both hosts drop at once, many times; "ssp.exe" forwards every other drop.
    const int kDrops = 12;
    std::set<std::string> expected;
    for (int i = 1; i <= kDrops; ++i) {
        const std::string a = "C:\\sakura " + std::to_string(i) + ".txt";
        sakura.child->Send("drop " + a);
        expected.insert(DropLine(sakura.tmainform, a));
        for (int j = 0; j < 2; ++j) {
            const std::string b = "C:\\ssp " + std::to_string(2 * i - 1 + j) + ".txt";
            ssp.child->Send("drop " + b);
            if (j == 0)
                expected.insert(DropLine(ssp.tmainform, b));
        }
    }
    auto drops = ExpectLines(ctl, "WM_USER+4 ", expected.size(), RigLimit());
    EXPECT_EQ(std::set<std::string>(drops.begin(), drops.end()), expected)
        << testing::PrintToString(drops);
    EXPECT_EQ(drops.size(), expected.size());
    sakura.Settle();
    ssp.Settle();
    EXPECT_TRUE(WaitUntil([] { return FindWindowA(nullptr, "MK_GETMSG_WND") != nullptr; }));
    EXPECT_TRUE(sakura.Quit());
    EXPECT_TRUE(ssp.Quit());
}

TEST(TitleBack, AControllerThatNeverTakesItsTitleBackHoldsTheNextDropAFewSecondsOnly) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    ASSERT_FALSE(ctl.Ask("titleback never", "TITLEBACK").empty());
    Host sakura = Host::Start(L"sakura.exe");
    ASSERT_TRUE(sakura.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    // Both have met the controller, as hosts do at their first menu opening: while its title
    // is a path, they find it as the window they met.
    EXPECT_EQ(WithPrefix(sakura.Do("initmenu"), "MENU init ").size(), 1u);
    EXPECT_EQ(WithPrefix(ssp.Do("initmenu"), "MENU init ").size(), 1u);
    ssp.Do("menuclose");
    const DWORD start = GetTickCount();
    sakura.child->Send("drop C:\\kept title.txt");
    ssp.child->Send("drop C:\\next.txt");
    auto drops = ExpectLines(ctl, "WM_USER+4 ", 2, RigLimit());
    const DWORD both_ms = GetTickCount() - start;
    std::sort(drops.begin(), drops.end());
    std::vector<std::string> expected = {DropLine(sakura.tmainform, "C:\\kept title.txt"),
                                         DropLine(ssp.tmainform, "C:\\next.txt")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(drops, expected);
    // The second waited for the first one's title to come back, and went on after 5 s.
    EXPECT_GE(both_ms, 4500u);
    std::printf("a controller that keeps the path as its title: both drops after %lu ms\n",
                both_ms);
    sakura.Settle();
    ssp.Settle();
    ASSERT_FALSE(ctl.Ask("titleback now", "TITLEBACK").empty());
    EXPECT_TRUE(sakura.Quit());
    EXPECT_TRUE(ssp.Quit());
}

TEST(TraceWriter, AReaderThatNeverReadsHoldsNoHookedProgram) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    // A debug-output reader that never takes a line: every OutputDebugString waits 10 s for it.
    HANDLE buffer_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    HANDLE data_ready = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
    ASSERT_TRUE(buffer_ready && data_ready && section);
    HANDLE trace_switch = CreateEventA(nullptr, TRUE, FALSE, MK_TRACE_SWITCH_NAME);
    ASSERT_TRUE(trace_switch);
    Sleep(1200);  // each process looks for the switch at most twice a second

    // Each menu opening and drop writes a line or two; none may wait for the reader.
    DWORD slowest = 0;
    auto busy_host = [&](const std::string& tag) {
        for (int i = 0; i < 3; ++i) {
            DWORD t = GetTickCount();
            EXPECT_EQ(WithPrefix(host.Do("initmenu"), "MENU init ").size(), 1u);
            host.Do("drop C:\\" + tag + std::to_string(i) + ".txt");
            slowest = std::max(slowest, GetTickCount() - t);
        }
    };
    busy_host("unread ");
    // And a program holding the mutex every writer waits for without a limit.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, "DBWinMutex");
    ASSERT_TRUE(mutex);
    busy_host("mutex held ");
    // A hooked thread that wrote a line itself would have waited 10 s for it, or for ever.
    EXPECT_LT(slowest, 10000u);
    std::printf("with a debug-output reader that never reads: the slowest menu and drop %lu ms\n",
                slowest);
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 ").size(), 6u);

    ReleaseMutex(mutex);
    CloseHandle(mutex);
    CloseHandle(section);
    CloseHandle(data_ready);
    CloseHandle(buffer_ready);
    CloseHandle(trace_switch);
    // The writer gets over the reader that went away, writes what is left and ends.
    host.Settle();
    // And a reader that reads sees the host's lines again.
    auto trace = Child::Start(BinPath(L"mktrace.exe"), L"");
    ASSERT_TRUE(trace);
    ASSERT_TRUE(trace->Expect("mktrace: trace on"));
    Sleep(1200);
    host.Do("initmenu");
    const std::string line = std::to_string(host.pid) + " mkhook: WM_INITMENU";
    EXPECT_TRUE(trace->Expect(line));
    EXPECT_EQ(trace->CloseAndWait(), 0u);
    host.Settle();
    EXPECT_TRUE(host.Quit());
}
