// Peers that stop answering: a controller that hangs must not freeze the mascot host, and
// notices stuck on a hung mascot must not hold the controller in HookExit.
#include <gtest/gtest.h>

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
    long handle() const { return static_cast<long>(reinterpret_cast<intptr_t>(hwnd_)); }
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

}  // namespace

TEST(UnresponsivePeers, AControllerThatHangsFreezesNeitherTheMenuNorADrop) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    ASSERT_EQ(SuiteItems(host.Menu("menu", "open")), 1);

    // The controller stops serving its window for longer than the host waits in all (2 s for
    // the pop-up, 5 s for a drop): each answer below comes while it still hangs.
    ctl.child->Send("hang 20000");
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
    ASSERT_TRUE(ctl.child->Expect("RESUMED", nullptr, 30000));
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
    std::string exit = c.Ask("hookexit", "HookExit ", 30000);
    EXPECT_EQ(Field(exit, "threads"), "0");
    // One shared grace of two seconds, not two seconds for each of the five threads one
    // after another.
    EXPECT_LT(FieldLong(exit, "ms"), 4000) << exit;
    std::printf("HookExit with five stuck notices: %s\n", exit.c_str());
    c.child->Send("exit");
    EXPECT_EQ(c.child->CloseAndWait(), 0u);
}
