// A drop's exchange with the controller while the controller is busy: the controller is shared
// by all hosts and reads each path from its one title, so drops must reach it one at a time,
// and everything else the suite sends must still find it while its title is a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host_fixture.h"

using namespace mk::test;

namespace {

long SuiteItems(const std::vector<std::string>& items) {
    return std::count(items.begin(), items.end(), "Mirekko(&F)");
}

// The controller's lines from the first that begins with `from` up to the one that begins
// with `to`, both left out.
std::vector<std::string> Between(const std::vector<std::string>& lines, const std::string& from,
                                 const std::string& to) {
    std::vector<std::string> part;
    bool in = false;
    for (const auto& line : lines) {
        if (!in) {
            in = line.rfind(from, 0) == 0;
        } else if (line.rfind(to, 0) == 0) {
            break;
        } else {
            part.push_back(line);
        }
    }
    return part;
}

}  // namespace

TEST(DropExchange, DropsToAHungControllerReachItOneAtATimeEachWithItsOwnPath) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host sakura = Host::Start(L"sakura.exe");
    ASSERT_TRUE(sakura.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());

    // One host: the controller hangs for 8 s; the host goes on after 5 s and takes its next
    // drop while the first one's exchange still waits.
    ctl.child->Send("hang 8000");
    ASSERT_TRUE(ctl.child->Expect("HANG "));
    DWORD start = GetTickCount();
    sakura.Do("drop C:\\first.txt");
    const DWORD second_at = GetTickCount() - start;
    sakura.Do("drop C:\\second.txt");
    EXPECT_EQ(ExpectLines(ctl, "WM_USER+4 ", 2, RigLimit()),
              (std::vector<std::string>{DropLine(sakura.tmainform, "C:\\first.txt"),
                                        DropLine(sakura.tmainform, "C:\\second.txt")}));
    std::printf("one host: second drop %lu ms after the first, both handled after %lu ms\n",
                second_at, GetTickCount() - start);
    sakura.Settle();

    // Two hosts, one second apart: each WM_USER+4 comes with its own host's mascot and path.
    ctl.child->Send("hang 8000");
    ASSERT_TRUE(ctl.child->Expect("HANG "));
    sakura.child->Send("drop C:\\from sakura.txt");
    Sleep(1000);
    ssp.child->Send("drop C:\\from ssp.txt");  // the first on "ssp.exe": forwarded
    auto drops = ExpectLines(ctl, "WM_USER+4 ", 2, RigLimit());
    std::sort(drops.begin(), drops.end());
    std::vector<std::string> expected = {DropLine(sakura.tmainform, "C:\\from sakura.txt"),
                                         DropLine(ssp.tmainform, "C:\\from ssp.txt")};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(drops, expected);
    sakura.Settle();
    ssp.Settle();
    EXPECT_NE(FindWindowA(nullptr, "MK_GETMSG_WND"), nullptr);  // its title is back
    EXPECT_TRUE(sakura.Quit());
    EXPECT_TRUE(ssp.Quit());
}

TEST(DropExchange, TheSuiteStillReachesTheControllerWhileADropHoldsItsTitle) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host sakura = Host::Start(L"sakura.exe");
    ASSERT_TRUE(sakura.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    // "ssp.exe" has met the controller once, as a host does at its first menu opening.
    EXPECT_EQ(SuiteItems(ssp.Menu("initmenu", "init")), 1);
    ssp.Do("menuclose");

    // The controller takes a drop and asks about it in a loop of its own for 10 s (longer on a
    // slow path: all of the below must fit in), its title the dropped path all that time.
    ASSERT_FALSE(
        ctl.Ask("holddrop " + std::to_string(RigLimit(10000)) + " once", "HOLDDROP").empty());
    sakura.child->Send("drop C:\\held.txt");
    ASSERT_TRUE(ctl.child->Expect("HOLD "));
    // A menu opening, a command, a plug-in notice and a second drop, all meanwhile.
    EXPECT_EQ(SuiteItems(ssp.Menu("initmenu", "init")), 1);
    ssp.Do("menuclose");
    ssp.Do("command 1000");
    EXPECT_FALSE(ctl.Ask("mkiok sink", "MKShowMKIOK result=").empty());
    ssp.child->Send("drop C:\\while held.txt");
    ASSERT_TRUE(ctl.child->Expect("RELEASED"));

    auto held = Between(ctl.child->All(), "HOLD ", "RELEASED");
    EXPECT_EQ(WithPrefix(held, "WM_USER+3 ").size(), 1u) << testing::PrintToString(held);
    EXPECT_EQ(
        WithPrefix(held, "WM_USER+0 "),
        (std::vector<std::string>{"WM_USER+0 wParam=" + Dec(ssp.tmainform) + " lParam=1000"}));
    // The notice names the controller, though no window had its title when it looked.
    auto notices = WithPrefix(held, "COPYDATA ");
    ASSERT_EQ(notices.size(), 1u) << testing::PrintToString(held);
    EXPECT_EQ(FieldLong(notices[0], "from"), ctl.hwnd);
    EXPECT_NE(HexDecode(Field(notices[0], "hex")).find("\r\nHWnd: " + Dec(ctl.hwnd) + "\r\n"),
              std::string::npos);
    // The second drop waited for its turn, and read its own path.
    EXPECT_TRUE(WithPrefix(held, "WM_USER+4 ").empty()) << testing::PrintToString(held);
    EXPECT_EQ(ExpectLines(ctl, "WM_USER+4 ", 1, RigLimit()),
              (std::vector<std::string>{DropLine(ssp.tmainform, "C:\\while held.txt")}));
    sakura.Settle();
    ssp.Settle();
    EXPECT_TRUE(sakura.Quit());
    EXPECT_TRUE(ssp.Quit());
}
