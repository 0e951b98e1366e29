// What the controller's side of the library is handed from outside is checked before use: a
// window with the controller's title in another program is not the controller, and a notice
// for a handle that is no window goes to no window at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller_fixture.h"
#include "titled_window.h"

using namespace mk::test;

TEST(HandlesFromOutside, AWindowOfAnotherProcessWithTheControllersTitleGetsNothingFromTheExports) {
    Controller c = Controller::Start(L"--no-start");
    ASSERT_TRUE(c.ok());
    // Made after the controller's window, so that a lookup by the title alone finds it first.
    TitledWindow impostor;
    ASSERT_EQ(FindWindowA(nullptr, "MK_GETMSG_WND"), impostor.hwnd());

    EXPECT_FALSE(c.Ask("start", "HookStart result=").empty());
    EXPECT_EQ(FieldLong(c.Ask("refresh", "MKRefresh result="), "result"), 0);
    EXPECT_FALSE(c.Ask("inrefresh", "InMKRefresh result=").empty());
    EXPECT_FALSE(c.Ask("mkiok sink", "MKShowMKIOK result=").empty());
    std::string notice;
    ASSERT_TRUE(c.child->Expect("COPYDATA ", &notice));
    // The notice names the controller, in wParam and in its HWnd line.
    EXPECT_EQ(FieldLong(notice, "from"), c.hwnd);
    EXPECT_NE(HexDecode(Field(notice, "hex")).find("\r\nHWnd: " + std::to_string(c.hwnd) + "\r\n"),
              std::string::npos);
    auto lines = c.child->All();
    EXPECT_EQ(WithPrefix(lines, "WM_USER+2 ").size(), 2u);
    EXPECT_EQ(WithPrefix(lines, "WM_USER+1").size(), 1u);
    EXPECT_TRUE(impostor.Received().empty()) << testing::PrintToString(impostor.Received());
    EXPECT_EQ(FieldLong(c.Exit(), "result"), 0);
    EXPECT_TRUE(impostor.Received().empty());
}

TEST(HandlesFromOutside, ANoticeForAHandleThatIsNoWindowReachesNoWindow) {
    // Top-level windows of this process, as a broadcast would reach them.
    CopyDataSink sink;
    TitledWindow other;
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    HWND closed =
        CreateWindowExW(0, L"STATIC", L"closed", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    const long long closed_handle = static_cast<long long>(reinterpret_cast<intptr_t>(closed));
    DestroyWindow(closed);
    // 0xFFFF is HWND_BROADCAST; Windows and Wine take -1 as a broadcast too. One at a time:
    // every notice goes to the window passed last.
    for (const std::string& target :
         {std::string("65535"), std::string("-1"), std::to_string(closed_handle)}) {
        EXPECT_EQ(FieldLong(c.Ask("mkiok " + target, "MKShowMKIOK result="), "result"), 0);
        // The notice wakes after four seconds and ends without sending.
        EXPECT_TRUE(WaitUntil([&] { return FieldLong(c.Ask("threads", "THREADS "), "n") == 0; },
                              RigLimit()));
    }
    EXPECT_TRUE(sink.Requests().empty());
    EXPECT_TRUE(other.Received().empty()) << testing::PrintToString(other.Received());
    EXPECT_TRUE(WithPrefix(c.child->All(), "COPYDATA ").empty());
    EXPECT_EQ(FieldLong(c.Exit(), "threads"), 0);
}
