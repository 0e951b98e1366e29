// Starting and stopping the library from the controller, and the exports around the menu.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "host_fixture.h"

using namespace mk::test;

namespace {

bool MutexExists() {
    HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, "MKP");
    if (m)
        CloseHandle(m);
    return m != nullptr;
}

}  // namespace

TEST(Lifecycle, StartTakesTheMenuHooksAndCreatesTheMutexExitUndoesIt) {
    ASSERT_FALSE(MutexExists());
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    auto lines = c.child->All();
    // The menu is asked for before the hooks go in.
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("WM_USER+2 menu=", 0), 0u) << lines[0];
    EXPECT_NE(FieldLong(lines[0], "menu"), 0);
    EXPECT_EQ(lines[1].rfind("HookStart result=", 0), 0u) << lines[1];
    EXPECT_NE(FieldLong(lines[1], "result"), 0);
    EXPECT_TRUE(MutexExists());

    std::string exit = c.Exit();
    EXPECT_EQ(FieldLong(exit, "result"), 0);
    EXPECT_EQ(FieldLong(exit, "threads"), 0);
    std::string unloaded;
    ASSERT_TRUE(c.child->Expect("UNLOADED", &unloaded));
    EXPECT_EQ(Field(unloaded, "menu_alive"), "0");  // HookExit destroyed the held menu
    EXPECT_FALSE(MutexExists());
}

TEST(Lifecycle, HooksReachOtherProcessesOnceStarted) {
    // A global hook maps the library into every process whose thread handles a message,
    // this test's own included.
    ASSERT_EQ(GetModuleHandleW(L"mkhook.dll"), nullptr);
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    HWND w =
        CreateWindowExW(0, L"STATIC", L"probe", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(WaitUntil([&] {
        PostMessageW(w, WM_NULL, 0, 0);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        SendMessageW(w, WM_NULL, 0, 0);
        return GetModuleHandleW(L"mkhook.dll") != nullptr;
    }));
    DestroyWindow(w);
    c.Exit();
}

TEST(Lifecycle, StartWithoutControllerWindowStillHooksAndCreatesMutex) {
    Controller c = Controller::Start(L"--no-window");
    ASSERT_TRUE(c.ok());
    auto lines = c.child->All();
    for (const auto& l : lines)
        EXPECT_NE(l.rfind("WM_USER+2", 0), 0u) << l;
    std::string start;
    for (const auto& l : lines)
        if (l.rfind("HookStart result=", 0) == 0)
            start = l;
    EXPECT_NE(FieldLong(start, "result"), 0);
    EXPECT_TRUE(MutexExists());
    EXPECT_EQ(FieldLong(c.Exit(), "result"), 0);
    EXPECT_FALSE(MutexExists());
}

TEST(Lifecycle, RefreshSendsToTheControllerOrReportsItMissing) {
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    c.child->Send("refresh");
    std::string line;
    ASSERT_TRUE(c.child->Expect("WM_USER+1", &line));
    EXPECT_EQ(FieldLong(c.Ask("echo sync", "MKRefresh result="), "result"), 0);

    c.Ask("destroywindow", "WINDOW destroyed");
    EXPECT_EQ(FieldLong(c.Ask("refresh", "MKRefresh result="), "result"), -1);
    for (const auto& l : c.child->Unread(200))
        EXPECT_NE(l, "WM_USER+1");
    c.Exit();
}

TEST(Lifecycle, InMKRefreshDestroysTheHeldMenuAndAsksAgain) {
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    c.child->Send("inrefresh");
    std::string menu;
    ASSERT_TRUE(c.child->Expect("WM_USER+2 ", &menu));
    EXPECT_EQ(Field(menu, "previous_alive"), "0");
    EXPECT_EQ(FieldLong(c.Ask("echo sync", "InMKRefresh result="), "result"), 0);
    c.Exit();
}

TEST(Lifecycle, VersionIsTheSameBeforeStartAndAfter) {
    Controller c = Controller::Start(L"--no-start");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(FieldLong(c.Ask("getversion", "MKGetVersion result="), "result"), 120);
    c.Ask("start", "HookStart result=");
    EXPECT_EQ(FieldLong(c.Ask("getversion", "MKGetVersion result="), "result"), 120);
    c.Exit();
}

TEST(Lifecycle, AfterHookExitARunningHostIsLeftAlone) {
    Host host;
    {
        Controller c = Controller::Start();
        ASSERT_TRUE(c.ok());
        host = Host::Start(L"sakura.exe");
        ASSERT_TRUE(host.ok());
        auto items = host.Menu("initmenu", "init");
        EXPECT_EQ(std::count(items.begin(), items.end(), "Mirekko(&F)"), 1);
        EXPECT_EQ(Field(c.Exit(), "threads"), "0");
    }
    // A controller window to catch anything still forwarded, without hooks of its own.
    Controller watcher = Controller::Start(L"--no-start");
    ASSERT_TRUE(watcher.ok());
    // The item of the opening before stays (this kind of host's items are never removed);
    // no new one comes.
    auto items = host.Menu("initmenu", "init");
    EXPECT_EQ(std::count(items.begin(), items.end(), "Mirekko(&F)"), 1);
    EXPECT_EQ(WithPrefix(host.Do("drop C:\\after-exit.txt"), "HOST WM_DROPFILES ").size(), 1u);
    EXPECT_EQ(WithPrefix(host.Do("command 1000 0 tputil"), "HOST WM_COMMAND ").size(), 1u);
    host.Settle();  // no thread of the library is left in the host
    auto lines = ControllerLines(watcher);
    EXPECT_TRUE(WithPrefix(lines, "WM_USER+").empty());
    EXPECT_TRUE(host.Quit());
    watcher.child->Send("exit");
    EXPECT_EQ(watcher.child->CloseAndWait(), 0u);
}

TEST(StartRefused, EitherHookRefusedFailsTheStartAndLeavesNothingInstalled) {
    for (const wchar_t* refused : {L"callwndproc", L"getmessage"}) {
        SCOPED_TRACE(testing::Message() << "refused: " << refused);
        ASSERT_FALSE(MutexExists());
        Controller c = Controller::Start(std::wstring(L"--refuse-hook ") + refused);
        ASSERT_TRUE(c.ok());
        std::string start;
        for (const auto& l : c.child->All())
            if (l.rfind("HookStart result=", 0) == 0)
                start = l;
        EXPECT_EQ(FieldLong(start, "result"), 0) << start;
        EXPECT_EQ(FieldLong(c.Ask("hooks", "HOOKS "), "live"), 0);
        EXPECT_FALSE(MutexExists());
        // No message of this process brings the library here.
        HWND w = CreateWindowExW(0, L"STATIC", L"probe", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                 nullptr);
        EXPECT_FALSE(WaitUntil(
            [&] {
                PostMessageW(w, WM_NULL, 0, 0);
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&msg);
                SendMessageW(w, WM_NULL, 0, 0);
                return GetModuleHandleW(L"mkhook.dll") != nullptr;
            },
            2000));
        DestroyWindow(w);
        // HookExit after a refused start ends as usual.
        std::string exit = c.Exit();
        EXPECT_EQ(FieldLong(exit, "result"), 0);
        EXPECT_EQ(FieldLong(exit, "threads"), 0);
    }
    // The watch counts what a start that succeeds puts in place: both hooks.
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(FieldLong(c.Ask("hooks", "HOOKS "), "live"), 2);
    c.Exit();
}

TEST(StartRefused, ARetryDestroysTheMenuTheRefusedStartHeld) {
    Controller c = Controller::Start(L"--refuse-hook getmessage");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(WithPrefix(c.child->All(), "WM_USER+2 ").size(), 1u);
    ASSERT_FALSE(c.Ask("refusehook none", "REFUSEHOOK").empty());
    // The retry asks for the menu again; the one held from the refused start is gone first.
    std::string menu = c.Ask("start", "WM_USER+2 ");
    EXPECT_EQ(FieldLong(menu, "previous_alive"), 0) << menu;
    std::string start;
    ASSERT_TRUE(c.child->Expect("HookStart result=", &start));
    EXPECT_NE(FieldLong(start, "result"), 0);
    EXPECT_EQ(FieldLong(c.Ask("hooks", "HOOKS "), "live"), 2);
    EXPECT_TRUE(MutexExists());
    EXPECT_EQ(FieldLong(c.Exit(), "result"), 0);
    EXPECT_FALSE(MutexExists());
}
