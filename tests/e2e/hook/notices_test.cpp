// The plug-in-installed notice and the version box.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "controller_fixture.h"

using namespace mk::test;

namespace {

std::string ExpectedNotice(long long controller) {
    return "SEND SSTP/1.4\r\nSender: Mirekko\r\nScript: " +
           Utf8ToSjis("と思ったら、Mirekko用プラグインファイルだったよ。") + "\\u" +
           Utf8ToSjis("せっかちやな。") + "\\e\r\nHWnd: " + std::to_string(controller) +
           "\r\nCharset: Shift_JIS";
}

const wchar_t kVersionCaption[] = L"バージョン情報";

std::vector<HWND> VersionBoxes(DWORD pid) {
    std::vector<HWND> boxes;
    for (HWND h : WindowsOfProcess(pid)) {
        wchar_t title[64] = L"";
        GetWindowTextW(h, title, 64);
        if (std::wstring(title) == kVersionCaption && IsWindowVisible(h))
            boxes.push_back(h);
    }
    return boxes;
}

std::wstring BoxText(HWND box) {
    for (HWND child : ChildWindows(box)) {
        wchar_t buf[1024] = L"";
        GetWindowTextW(child, buf, 1024);
        std::wstring s = buf;
        if (s.find(L"Mirekko Phase") != std::wstring::npos)
            return s;
    }
    return std::wstring();
}

}  // namespace

TEST(Notice, ArrivesAfterTheWaitAsTheExactRequestFromTheController) {
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    DWORD called = GetTickCount();
    EXPECT_EQ(FieldLong(c.Ask("mkiok sink", "MKShowMKIOK result="), "result"), 0);
    std::string rec;
    ASSERT_TRUE(c.child->Expect("COPYDATA ", &rec));
    // Four seconds after the call: neither at once nor long after.
    DWORD delay = GetTickCount() - called;
    EXPECT_GE(delay, 3500u);
    EXPECT_LE(delay, 6000u);
    EXPECT_EQ(FieldLong(rec, "to"), c.sink);
    EXPECT_EQ(FieldLong(rec, "from"), c.hwnd);  // wParam: the controller's window
    EXPECT_EQ(Field(rec, "dwData"), "9801");
    std::string bytes = HexDecode(Field(rec, "hex"));
    std::string expected = ExpectedNotice(c.hwnd);
    EXPECT_EQ(bytes, expected);  // no terminating zero, no CR LF after the last header
    EXPECT_EQ(FieldLong(rec, "cbData"), static_cast<long>(expected.size()));
    EXPECT_EQ(c.Exit().find("threads=0") != std::string::npos, true);
}

TEST(Notice, WithoutControllerWindowNamesNoSender) {
    Controller c = Controller::Start(L"--no-window");
    ASSERT_TRUE(c.ok());
    c.Ask("mkiok sink", "MKShowMKIOK result=");
    std::string rec;
    ASSERT_TRUE(c.child->Expect("COPYDATA ", &rec));
    EXPECT_EQ(FieldLong(rec, "from"), 0);
    EXPECT_EQ(HexDecode(Field(rec, "hex")), ExpectedNotice(0));
    c.Exit();
}

TEST(Notice, TwoCallsWithinTheWaitBothGoToTheWindowPassedLast) {
    CopyDataSink first;
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    c.Ask("mkiok " + std::to_string(reinterpret_cast<LONG_PTR>(first.hwnd())),
          "MKShowMKIOK result=");
    c.Ask("mkiok sink", "MKShowMKIOK result=");
    std::string a, b;
    ASSERT_TRUE(c.child->Expect("COPYDATA ", &a));
    ASSERT_TRUE(c.child->Expect("COPYDATA ", &b));
    EXPECT_EQ(FieldLong(a, "to"), c.sink);
    EXPECT_EQ(FieldLong(b, "to"), c.sink);
    EXPECT_EQ(HexDecode(Field(a, "hex")), ExpectedNotice(c.hwnd));
    EXPECT_EQ(HexDecode(Field(b, "hex")), ExpectedNotice(c.hwnd));
    EXPECT_TRUE(first.Requests().empty());
    EXPECT_EQ(Field(c.Exit(), "threads"), "0");
}

TEST(Notice, HookExitEndsEveryWaitingNoticeAndSendsNothing) {
    CopyDataSink target;
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    std::string hwnd = std::to_string(reinterpret_cast<LONG_PTR>(target.hwnd()));
    c.Ask("mkiok " + hwnd, "MKShowMKIOK result=");
    c.Ask("mkiok " + hwnd, "MKShowMKIOK result=");
    // A thread that has not run yet may not show its start address: wait until both do.
    EXPECT_TRUE(WaitUntil([&] { return FieldLong(c.Ask("threads", "THREADS "), "n") == 2; }));
    // Both waiting threads end, not only the latest; the controller unloads the library next.
    std::string exit = c.Ask("hookexit", "HookExit ");
    EXPECT_EQ(Field(exit, "threads"), "0");
    Sleep(5500);
    EXPECT_TRUE(target.Requests().empty());
    for (const auto& l : c.child->Unread())
        EXPECT_NE(l.rfind("COPYDATA", 0), 0u) << l;
    c.child->Send("exit");
    EXPECT_EQ(c.child->CloseAndWait(), 0u);
}

TEST(Notice, HookExitDeliversANoticeWaitingOnTheControllersOwnThread) {
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    // The sink is a window of the controller's own thread. That thread serves nothing past the
    // notice's four seconds, so the notice waits on it, and then calls HookExit: HookExit's
    // wait hands the notice to the sink instead of terminating it. HookExit comes 7 s after
    // MKShowMKIOK on every path, not later where the rig waits longer: the notice's send
    // begins after its 4 s and gives up 5 s later, a bound of the library's own.
    EXPECT_FALSE(c.Ask("mkiok sink", "MKShowMKIOK result=").empty());
    std::string exit = c.Ask("hookexit 7000", "HookExit ", 2 * RigLimit());
    EXPECT_EQ(FieldLong(exit, "terminated"), 0) << exit;
    EXPECT_EQ(FieldLong(exit, "threads"), 0) << exit;
    auto notices = WithPrefix(c.child->All(), "COPYDATA ");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(FieldLong(notices[0], "to"), c.sink);
    EXPECT_EQ(HexDecode(Field(notices[0], "hex")), ExpectedNotice(c.hwnd));
    c.child->Send("exit");
    EXPECT_EQ(c.child->CloseAndWait(), 0u);
}

TEST(Notice, AWindowOfTheControllerThatTakesLongerThanTheLimitReadsTheWholeRequest) {
    // The sink is the controller's own window: the request is read where the library put it,
    // 7 s after the send began, when the send's 5 s are long over.
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    ASSERT_FALSE(c.Ask("slowsink 7000", "SLOWSINK").empty());
    c.Ask("mkiok sink", "MKShowMKIOK result=");
    ASSERT_TRUE(c.child->Expect("SINK busy"));
    std::string rec;
    ASSERT_TRUE(c.child->Expect("COPYDATA ", &rec));
    const std::string expected = ExpectedNotice(c.hwnd);
    EXPECT_EQ(FieldLong(rec, "cbData"), static_cast<long>(expected.size()));
    EXPECT_EQ(HexDecode(Field(rec, "hex")), expected);
    EXPECT_EQ(Field(c.Exit(), "threads"), "0");
}

TEST(VersionBox, HookExitRightAfterShowVersionClosesTheBoxInsteadOfKillingItsThread) {
    // HookExit comes before the box exists, or while MessageBoxA is making it: the box must
    // not outlive HookExit, and its thread must end by itself, never be terminated in the
    // middle of the modal loop. The gap varies from none to a few tens of milliseconds.
    for (int gap_ms : {0, 0, 5, 10, 20, 40, 80}) {
        SCOPED_TRACE(testing::Message() << "HookExit " << gap_ms << " ms after");
        Controller c = Controller::Start();
        ASSERT_TRUE(c.ok());
        std::string exit = c.Ask("showversion hookexit " + std::to_string(gap_ms), "HookExit ");
        EXPECT_EQ(Field(exit, "threads"), "0") << exit;
        EXPECT_EQ(Field(exit, "terminated"), "0") << exit;
        EXPECT_LT(FieldLong(exit, "ms"), 5000) << exit;
        EXPECT_TRUE(VersionBoxes(c.child->pid()).empty());
        std::printf("%d ms after MKShowVersion: %s\n", gap_ms, exit.c_str());
        c.child->Send("exit");
        EXPECT_EQ(c.child->CloseAndWait(), 0u);
    }
}

TEST(VersionBox, ShowsOneBoxAtATimeWithItsFiveLines) {
    Controller c = Controller::Start();
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(FieldLong(c.Ask("showversion", "MKShowVersion result="), "result"), 0);
    DWORD pid = c.child->pid();
    ASSERT_TRUE(WaitUntil([&] { return VersionBoxes(pid).size() == 1; }));
    HWND box = VersionBoxes(pid)[0];
    std::wstring text = BoxText(box);
    // Five lines separated by single line feeds; the third is empty.
    size_t lines = 1;
    for (wchar_t ch : text)
        lines += ch == L'\n';
    EXPECT_EQ(lines, 5u);
    EXPECT_EQ(text.find(L"\r"), std::wstring::npos);
    EXPECT_EQ(text.rfind(L"Mirekko Phase 1.8(with MKP/1.3) 2001/07/24\n", 0), 0u);
    size_t third = text.find(L"\n\n");
    ASSERT_NE(third, std::wstring::npos);
    EXPECT_EQ(text.find(L"\n", text.find(L"\n") + 1), third);
    EXPECT_EQ(text.substr(third + 2).rfind(L"HomePage ", 0), 0u);
    EXPECT_NE(text.find(L"\nE-Mail "), std::wstring::npos);

    // A second call while it is open shows nothing more.
    EXPECT_EQ(FieldLong(c.Ask("showversion", "MKShowVersion result="), "result"), 0);
    Sleep(500);
    EXPECT_EQ(VersionBoxes(pid).size(), 1u);

    // Once closed, the next call opens a new one.
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntil([&] { return VersionBoxes(pid).empty(); }));
    ASSERT_TRUE(WaitUntil([&] { return FieldLong(c.Ask("threads", "THREADS "), "n") == 0; }));
    c.Ask("showversion", "MKShowVersion result=");
    ASSERT_TRUE(WaitUntil([&] { return VersionBoxes(pid).size() == 1; }));

    // HookExit closes the box, and its thread ends by itself.
    std::string exit = c.Ask("hookexit", "HookExit ");
    EXPECT_EQ(Field(exit, "threads"), "0");
    EXPECT_EQ(Field(exit, "terminated"), "0");
    EXPECT_TRUE(WaitUntil([&] { return VersionBoxes(pid).empty(); }));
    c.child->Send("exit");
    EXPECT_EQ(c.child->CloseAndWait(), 0u);
}
