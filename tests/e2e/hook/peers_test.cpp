// Peers that stop answering: a controller that hangs must not freeze the mascot host, nor
// lose half of a drop's news, and notices stuck on a hung mascot must not hold the controller
// in HookExit.
#define PSAPI_VERSION 2  // GetProcessMemoryInfo from KERNEL32
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "host_fixture.h"

using namespace mk::test;

namespace {

// The items "Mirekko(&F)" in a menu; the first kind of host keeps every one inserted.
long SuiteItems(const std::vector<std::string>& items) {
    return std::count(items.begin(), items.end(), "Mirekko(&F)");
}

// A window of this process whose thread serves it until Freeze(), then serves nothing until
// the window goes, as a mascot host that deadlocks.
class HungWindow {
public:
    HungWindow() {
        freeze_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &HungWindow::Run, this, 0, nullptr);
        WaitForSingleObject(ready_, 10000);
    }
    ~HungWindow() {
        SetEvent(release_);
        WaitForSingleObject(thread_, 30000);
        CloseHandle(thread_);
        CloseHandle(ready_);
        CloseHandle(release_);
        CloseHandle(freeze_);
    }
    long long handle() const { return static_cast<long long>(reinterpret_cast<intptr_t>(hwnd_)); }
    void Freeze() { SetEvent(freeze_); }

private:
    static DWORD WINAPI Run(LPVOID param) {
        auto* self = static_cast<HungWindow*>(param);
        self->hwnd_ = CreateWindowExW(0, L"STATIC", L"hung mascot", 0, 0, 0, 0, 0, nullptr, nullptr,
                                      nullptr, nullptr);
        SetEvent(self->ready_);
        for (;;) {
            DWORD r = MsgWaitForMultipleObjects(1, &self->freeze_, FALSE, INFINITE, QS_ALLINPUT);
            if (r != WAIT_OBJECT_0 + 1)
                break;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
        }
        // Hung: no message is looked at until the test lets go (at most a minute).
        WaitForSingleObject(self->release_, 60000);
        DestroyWindow(self->hwnd_);
        return 0;
    }
    HANDLE thread_ = nullptr, ready_ = nullptr, freeze_ = nullptr, release_ = nullptr;
    HWND hwnd_ = nullptr;
};

// The commit charge of another process. Wine fills only PagefileUsage for another process; on
// Windows it is the same figure as PrivateUsage.
long long CommitCharge(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
        return -1;
    return static_cast<long long>(counters.PagefileUsage);
}

}  // namespace

TEST(UnresponsivePeers, AControllerThatStallsAfterTheTitleStillGetsTheWholeDrop) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    for (const wchar_t* exe : {L"sakura.exe", L"ssp.exe"}) {
        SCOPED_TRACE(testing::Message() << exe);
        Host host = Host::Start(exe);
        ASSERT_TRUE(host.ok());
        // It takes the title, then starts a long job: WM_USER+4 waits for it.
        ASSERT_FALSE(
            ctl.Ask("stallaftertitle " + StallPastTheHostsWait() + " once", "STALLAFTERTITLE")
                .empty());
        DWORD start = GetTickCount();
        auto lines = host.Do("drop C:\\slow controller.txt");
        DWORD host_ms = GetTickCount() - start;
        EXPECT_EQ(WithPrefix(lines, "HOST WM_DROPFILES window=tmainform count=1").size(), 1u);
        // The host went on with its drop while the controller still stalls.
        auto meanwhile = ctl.child->Unread();
        EXPECT_EQ(WithPrefix(meanwhile, "STALL ").size(), 1u);
        EXPECT_TRUE(WithPrefix(meanwhile, "SERVING").empty()) << "the host waited for it";

        // Serving again, it gets the rest of the exchange with the path, and takes its title
        // back, so that the suite's lookups find it again.
        ASSERT_TRUE(ctl.child->Expect("SERVING"));
        std::string drop;
        ASSERT_TRUE(ctl.child->Expect("WM_USER+4 ", &drop));
        DWORD controller_ms = GetTickCount() - start;
        EXPECT_EQ(drop, DropLine(host.tmainform, "C:\\slow controller.txt"));
        // The stand-in puts its title back right after that line, then tries the file.
        ASSERT_TRUE(ctl.child->Expect("DROPFILE "));
        EXPECT_NE(FindWindowA(nullptr, "MK_GETMSG_WND"), nullptr);
        host.Settle();  // no thread of the library left in the host
        std::printf(
            "%ls, controller stalled after the title: the host went on after %lu ms, "
            "WM_USER+4 arrived after %lu ms\n",
            exe, host_ms, controller_ms);

        // And the next drop goes as usual (for "ssp.exe" the one after the next).
        host.Do("drop C:\\next.txt");
        if (host.kind == "ssp")
            host.Do("drop C:\\next.txt");
        EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 "),
                  (std::vector<std::string>{DropLine(host.tmainform, "C:\\next.txt")}));
        EXPECT_TRUE(host.Quit());
    }
}

TEST(UnresponsivePeers, DropsToAStallingControllerLeaveNothingBehind) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    const std::string path = "C:\\many drops.txt";
    const std::string forwarded = DropLine(host.tmainform, path);
    auto heap_busy = [&] {
        host.child->Send("heap");
        std::string line;
        return host.child->Expect("HEAP ", &line) ? FieldLong(line, "busy") : -1L;
    };
    // Some drops first bring the host's heap and thread bookkeeping to size.
    for (int i = 0; i < 20; ++i)
        host.Do("drop " + path);
    EXPECT_EQ(ExpectLines(ctl, "WM_USER+4 ", 20, RigLimit()).size(), 20u);
    host.Settle();
    const long long commit_before = CommitCharge(host.child->process());
    const long heap_before = heap_busy();
    ASSERT_GT(commit_before, 0);
    ASSERT_GT(heap_before, 0);

    // A hundred drops to a controller that stops serving for a moment after each title: the
    // host's thread waits for each exchange, as it did before.
    ASSERT_FALSE(ctl.Ask("stallaftertitle 20", "STALLAFTERTITLE").empty());
    auto hundred_drops = [&] {
        DWORD start = GetTickCount();
        for (int i = 0; i < 100; ++i)
            host.Do("drop " + path);
        auto drops = ExpectLines(ctl, "WM_USER+4 ", 100, RigLimit());
        EXPECT_EQ(std::count(drops.begin(), drops.end(), forwarded), 100);
        return GetTickCount() - start;
    };
    const DWORD hundred_ms = hundred_drops();
    DWORD start;

    // Three drops to a controller that stalls longer than the host waits: each time the host
    // goes on and the worker ends the exchange later.
    DWORD went_on_ms = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(
            ctl.Ask("stallaftertitle " + StallPastTheHostsWait() + " once", "STALLAFTERTITLE")
                .empty());
        start = GetTickCount();
        EXPECT_EQ(WithPrefix(host.Do("drop " + path), "HOST WM_DROPFILES ").size(), 1u);
        went_on_ms = std::max(went_on_ms, GetTickCount() - start);
        EXPECT_TRUE(WithPrefix(ctl.child->Unread(), "SERVING").empty()) << "the host waited";
        EXPECT_EQ(ExpectLines(ctl, "WM_USER+4 ", 1, RigLimit()),
                  (std::vector<std::string>{forwarded}));
    }
    // The controller prints the drop's line before it takes its title back.
    EXPECT_TRUE(WaitUntil([] { return FindWindowA(nullptr, "MK_GETMSG_WND") != nullptr; }));
    host.Settle();  // every worker has ended
    const long long commit_after = CommitCharge(host.child->process());
    // Another hundred, to tell memory kept per drop from memory Wine takes once: it took a
    // megabyte in the emulated guest for the first hundred, with the heap in use unchanged.
    ASSERT_FALSE(ctl.Ask("stallaftertitle 20", "STALLAFTERTITLE").empty());
    hundred_drops();
    host.Settle();
    const long long commit_again = CommitCharge(host.child->process());
    const long heap_after = heap_busy();
    std::printf(
        "100 drops with a 20 ms stall after each title in %lu ms; 3 drops with a 6 s "
        "stall: the host went on after at most %lu ms; host commit charge %lld KB "
        "before, %lld KB after, %lld KB after a hundred more; process heap in use %ld bytes "
        "before, %ld after\n",
        hundred_ms, went_on_ms, commit_before / 1024, commit_after / 1024, commit_again / 1024,
        heap_before, heap_after);
    // Wine's bookkeeping of a hundred threads started and ended moves it by a few pages (nine
    // under Wine 10); a kilobyte kept per drop would move it by a hundred.
    EXPECT_LT(commit_again - commit_after, 64 * 1024);
    // A path buffer left behind by each drop the host gave up waiting for would be 3 KB here.
    EXPECT_LT(heap_after - heap_before, 1024);
    EXPECT_TRUE(host.Quit());
}

TEST(UnresponsivePeers, AControllerThatHasTheMascotSpeakDuringADropIsServed) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    ASSERT_FALSE(ctl.Ask("speakondrop 1", "SPEAKONDROP").empty());
    auto lines = host.Do("drop C:\\spoken.txt");
    // The host's thread took the request while it waited for the controller, before its own
    // window procedure saw the drop, and both sides finished at once.
    auto request = std::find_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.rfind("COPYDATA ", 0) == 0; });
    auto dropped = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("HOST WM_DROPFILES ", 0) == 0;
    });
    ASSERT_NE(request, lines.end());
    ASSERT_NE(dropped, lines.end());
    EXPECT_LT(request - lines.begin(), dropped - lines.begin());
    auto sent = ControllerLines(ctl);
    EXPECT_EQ(WithPrefix(sent, "SPOKE "), (std::vector<std::string>{"SPOKE result=1"}));
    EXPECT_EQ(WithPrefix(sent, "WM_USER+4 "),
              (std::vector<std::string>{DropLine(host.tmainform, "C:\\spoken.txt")}));
    EXPECT_TRUE(host.Quit());
}

TEST(UnresponsivePeers, AControllerThatHangsFreezesNeitherTheMenuNorADrop) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(SuiteItems(host.Menu("menu", "open")), 1);

    // The controller stops serving its window for longer than the host waits in all (2 s for
    // the pop-up, 5 s for a drop): each answer below comes while it still hangs.
    ctl.child->Send("hang " + std::to_string(RigLimit(20000)));
    ASSERT_TRUE(ctl.child->Expect("HANG "));
    DWORD start = GetTickCount();
    EXPECT_EQ(SuiteItems(host.Menu("menu", "open")), 1);  // no new one
    DWORD menu_ms = GetTickCount() - start;
    start = GetTickCount();
    auto dropped = host.Do("drop C:\\while-hung.txt");
    DWORD drop_ms = GetTickCount() - start;
    EXPECT_EQ(WithPrefix(dropped, "HOST WM_DROPFILES window=tmainform count=1").size(), 1u);
    EXPECT_TRUE(WithPrefix(ctl.child->Unread(), "RESUMED").empty())
        << "the host waited until the controller served again";
    std::printf("while the controller hangs: menu %lu ms, drop %lu ms\n", menu_ms, drop_ms);

    // Serving again, it gets what was queued for it, and everything works as before.
    ASSERT_TRUE(ctl.child->Expect("RESUMED"));
    EXPECT_EQ(SuiteItems(host.Menu("menu", "open")), 2);
    host.Do("drop C:\\after.txt");
    host.Do("command 1000 0 tputil");
    host.Settle();
    auto lines = ControllerLines(ctl);
    auto drops = WithPrefix(lines, "WM_USER+4 ");
    ASSERT_FALSE(drops.empty());
    EXPECT_EQ(drops.back(), "WM_USER+4 wParam=" + Dec(host.tmainform) + " title=C:\\after.txt");
    EXPECT_EQ(
        WithPrefix(lines, "WM_USER+0 "),
        (std::vector<std::string>{"WM_USER+0 wParam=" + Dec(host.tmainform) + " lParam=1000"}));
    EXPECT_TRUE(host.Quit());
}

TEST(UnresponsivePeers, HookExitEndsNoticesStuckOnAHungMascotAfterOneGracePeriod) {
    HungWindow mascot;
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    for (int i = 0; i < 5; ++i)
        c.Ask("mkiok " + std::to_string(mascot.handle()), "MKShowMKIOK result=");
    mascot.Freeze();
    // The notices wake after four seconds and are then stuck sending to the hung window.
    Sleep(4500);
    std::string exit = c.Ask("hookexit", "HookExit ");
    EXPECT_EQ(Field(exit, "threads"), "0");
    // One shared grace of two seconds, not two seconds for each of the five threads one
    // after another.
    EXPECT_LT(FieldLong(exit, "ms"), 4000) << exit;
    std::printf("HookExit with five stuck notices: %s\n", exit.c_str());
    c.child->Send("exit");
    EXPECT_EQ(c.child->CloseAndWait(), 0u);
}
