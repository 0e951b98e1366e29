// Commands chosen from the suite's pop-up and files dropped on the mascot, passed on to the
// controller; and the host still handling each of them itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.h"
#include "text.h"

using namespace mk::test;

namespace {

std::string Command(long long mascot, int id) {
    return "WM_USER+0 wParam=" + Dec(mascot) + " lParam=" + std::to_string(id);
}

std::string Drop(long long mascot, const std::string& path) {
    return "WM_USER+4 wParam=" + Dec(mascot) + " title=" + path;
}

int CountSuiteItemsAfterInit(Host& host) {
    int n = 0;
    for (const auto& item : host.Menu("initmenu", "init"))
        n += item == "Mirekko(&F)";
    return n;
}

// A file of the test's own in the temp folder, removed when the test ends.
struct TempFile {
    std::wstring path;
    explicit TempFile(const std::wstring& name) {
        wchar_t dir[MAX_PATH] = L"";
        GetTempPathW(MAX_PATH, dir);
        path = std::wstring(dir) + name;
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            path.clear();
        else
            CloseHandle(h);
    }
    ~TempFile() {
        if (!path.empty())
            DeleteFileW(path.c_str());
    }
    std::string utf8() const { return mk::tools::WideToUtf8(path); }
};

std::vector<std::string> Forwarded(Host& host, Controller& ctl, const char* prefix) {
    host.Settle();
    return WithPrefix(ControllerLines(ctl), prefix);
}

}  // namespace

TEST(CommandForwarding, FirstKindForwardsIdentifiersFrom1000WithTheListedMascotWindow) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    for (const wchar_t* exe : {L"sakura.exe", L"embryo.exe"}) {
        SCOPED_TRACE(testing::Message() << exe);
        Host host = Host::Start(exe);
        ASSERT_TRUE(host.ok());
        struct Case {
            const char* command;
            int forwarded;  // identifier, or -1
        } cases[] = {
            {"command 999 0 tputil", -1},      {"command 1000 0 tputil", 1000},
            {"command 65535 0 tputil", 65535}, {"command 1000 1 tputil", 1000},
            {"command 1000 0 tputil", 1000},  // again: no flag involved
            {"command 0 0 tputil", -1},        {"command 1000 0 tmainform", -1},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.command);
            auto lines = host.Do(c.command);
            // The host's own window procedure gets the command in any case.
            EXPECT_EQ(WithPrefix(lines, "HOST WM_COMMAND ").size(), 1u);
            auto sent = Forwarded(host, ctl, "WM_USER+0 ");
            if (c.forwarded < 0) {
                EXPECT_TRUE(sent.empty());
            } else {
                // The main window listed in "Sakura", not the utility window that got it.
                EXPECT_EQ(sent, (std::vector<std::string>{Command(host.tmainform, c.forwarded)}));
            }
        }
        EXPECT_TRUE(host.Quit());
    }
}

TEST(CommandForwarding, SspForwardsOnlyTheFirstCommandAfterAnInsertion) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    // Before any insertion nothing is the suite's.
    ssp.Do("command 1000");
    EXPECT_TRUE(Forwarded(ssp, ctl, "WM_USER+0 ").empty());

    ssp.Do("initmenu");
    ssp.Do("menuclose");  // the close leaves the command pending
    ssp.Do("command 1000 1");
    EXPECT_EQ(Forwarded(ssp, ctl, "WM_USER+0 "),
              (std::vector<std::string>{Command(ssp.tmainform, 1000)}));
    ssp.Do("command 1001");
    EXPECT_TRUE(Forwarded(ssp, ctl, "WM_USER+0 ").empty());

    // A host command first clears the flag: the suite's command after it is not forwarded.
    ssp.Do("initmenu");
    ssp.Do("command 500");
    ssp.Do("command 1200");
    EXPECT_TRUE(Forwarded(ssp, ctl, "WM_USER+0 ").empty());

    ssp.Do("initmenu");
    ssp.Do("command 65535");
    EXPECT_EQ(Forwarded(ssp, ctl, "WM_USER+0 "),
              (std::vector<std::string>{Command(ssp.tmainform, 65535)}));
    // Every command reached the host's window procedure.
    EXPECT_TRUE(ssp.Quit());
    EXPECT_EQ(WithPrefix(ssp.child->All(), "HOST WM_COMMAND window=tmainform ").size(), 6u);
}

TEST(CommandForwarding, FirstKindNeedsItsWindowListedInSharedMemory) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    {
        // A window of another process listed first: the host's own one is used.
        Host host = Host::Start(L"sakura.exe", L"--sakura foreign");
        ASSERT_TRUE(host.ok());
        host.Do("command 1000 0 tputil");
        EXPECT_EQ(Forwarded(host, ctl, "WM_USER+0 "),
                  (std::vector<std::string>{Command(host.tmainform, 1000)}));
        EXPECT_TRUE(host.Quit());
    }
    for (const wchar_t* args : {L"--sakura nohwnd", L"--sakura none"}) {
        SCOPED_TRACE(testing::Message() << args);
        Host host = Host::Start(L"sakura.exe", args);
        ASSERT_TRUE(host.ok());
        host.Do("command 1000 0 tputil");
        EXPECT_TRUE(Forwarded(host, ctl, "WM_USER+0 ").empty());
        EXPECT_TRUE(host.Quit());
    }
}

TEST(DropForwarding, SspForwardsEverySecondDropFirstPathOnly) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe", L"--menu-owner tputil");
    ASSERT_TRUE(ssp.ok());
    const std::string first = "C:\\ゴースト\\プラグイン.nar";
    auto lines = ssp.Do("drop tmainform " + first + "|C:\\second.txt|C:\\third.txt");
    // The host itself gets the whole drop.
    EXPECT_EQ(WithPrefix(lines, "HOST WM_DROPFILES window=tmainform count=3").size(), 1u);
    EXPECT_EQ(WithPrefix(lines, "HOST   path=").size(), 3u);
    // The title carried the first path when WM_USER+4 arrived.
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 "),
              (std::vector<std::string>{Drop(ssp.tmainform, first)}));

    // A drop on a window of another class is ignored and does not count.
    EXPECT_EQ(
        WithPrefix(ssp.Do("drop tputil C:\\util.txt"), "HOST WM_DROPFILES window=tputil").size(),
        1u);
    ssp.Do("drop tmainform C:\\2.txt");
    ssp.Do("drop tmainform C:\\3.txt");
    ssp.Do("drop tmainform C:\\4.txt");
    ssp.Do("drop tmainform C:\\5.txt");
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 "),
              (std::vector<std::string>{Drop(ssp.tmainform, "C:\\3.txt"),
                                        Drop(ssp.tmainform, "C:\\5.txt")}));
    EXPECT_TRUE(ssp.Quit());
}

TEST(DropForwarding, FirstKindForwardsEachDropWithTheListedMascotWindow) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    for (const wchar_t* exe : {L"sakura.exe", L"embryo.exe"}) {
        SCOPED_TRACE(testing::Message() << exe);
        Host host = Host::Start(exe, L"--sakura foreign");
        ASSERT_TRUE(host.ok());
        host.Do("drop C:\\a.txt|C:\\b.txt");
        host.Do("drop C:\\c.txt");
        EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 "),
                  (std::vector<std::string>{Drop(host.tmainform, "C:\\a.txt"),
                                            Drop(host.tmainform, "C:\\c.txt")}));
        // The utility window is not where files are dropped.
        auto lines = host.Do("drop tputil C:\\d.txt");
        EXPECT_EQ(WithPrefix(lines, "HOST WM_DROPFILES window=tputil count=1").size(), 1u);
        EXPECT_TRUE(WithPrefix(ControllerLines(ctl), "WM_USER+4 ").empty());
        EXPECT_TRUE(host.Quit());
    }
    // No listed window of the process: nothing is sent.
    Host host = Host::Start(L"sakura.exe", L"--sakura nohwnd");
    ASSERT_TRUE(host.ok());
    auto lines = host.Do("drop C:\\a.txt");
    EXPECT_EQ(WithPrefix(lines, "HOST WM_DROPFILES window=tmainform count=1").size(), 1u);
    EXPECT_TRUE(WithPrefix(ControllerLines(ctl), "WM_USER+4 ").empty());
    EXPECT_TRUE(host.Quit());
}

TEST(DropForwarding, OtherProcessesAreIgnored) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    for (const wchar_t* args : {L"--kind ssp", L"--kind sakura --sakura normal"}) {
        SCOPED_TRACE(testing::Message() << args);
        Host host = Host::Start(L"mkhost.exe", args);
        ASSERT_TRUE(host.ok());
        host.Do("drop C:\\a.txt");
        host.Do("initmenu");
        host.Do("command 1000");  // to the menu's owner
        host.Settle();
        auto sent = ControllerLines(ctl);
        EXPECT_TRUE(WithPrefix(sent, "WM_USER+4 ").empty());
        EXPECT_TRUE(WithPrefix(sent, "WM_USER+0 ").empty());
        EXPECT_TRUE(host.Quit());
    }
}

TEST(DropForwarding, StateAdvancesWhileTheControllerWindowIsMissing) {
    // With the hooks in place but no window titled "MK_GETMSG_WND", nothing arrives anywhere,
    // the host goes on as usual, and the "ssp.exe" alternation counts the lost drop.
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    Host sakura = Host::Start(L"sakura.exe");
    ASSERT_TRUE(sakura.ok());
    ASSERT_FALSE(ctl.Ask("destroywindow", "WINDOW destroyed").empty());

    EXPECT_EQ(WithPrefix(ssp.Do("drop C:\\lost.txt"), "HOST WM_DROPFILES ").size(), 1u);
    // A worker whose send goes nowhere ends all the same.
    EXPECT_EQ(WithPrefix(sakura.Do("command 1000 0 tputil"), "HOST WM_COMMAND ").size(), 1u);
    sakura.Settle();
    EXPECT_EQ(CountSuiteItemsAfterInit(sakura), 0);

    ASSERT_FALSE(ctl.Ask("createwindow", "WINDOW hwnd=").empty());
    ssp.Do("drop C:\\2.txt");
    ssp.Do("drop C:\\3.txt");
    EXPECT_EQ(WithPrefix(ControllerLines(ctl), "WM_USER+4 "),
              (std::vector<std::string>{Drop(ssp.tmainform, "C:\\3.txt")}));
    EXPECT_TRUE(ssp.Quit());
    EXPECT_TRUE(sakura.Quit());
}

TEST(DropForwarding, PathsReachTheControllerAsFilesItCanOpen) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());

    // Shift_JIS writes these exactly, with 0x5C as the second byte of 表, ソ and 能: the
    // bytes arrive unchanged from a drop of today's shell (UTF-16) and from an ANSI one.
    TempFile japanese(L"表示ソフト能力.txt");
    ASSERT_FALSE(japanese.path.empty());
    for (const char* command : {"drop ", "dropansi "}) {
        SCOPED_TRACE(command);
        host.Do(command + japanese.utf8());
        auto lines = ControllerLines(ctl);
        EXPECT_EQ(WithPrefix(lines, "WM_USER+4 "),
                  (std::vector<std::string>{Drop(host.tmainform, japanese.utf8())}));
        EXPECT_EQ(WithPrefix(lines, "DROPFILE "), (std::vector<std::string>{"DROPFILE opens=1"}));
    }

    // Korean has no Shift_JIS form: the "?" the code page would put in its place opens
    // nothing, the file's short name does.
    TempFile korean(L"메모리 정리 플러그인.txt");
    ASSERT_FALSE(korean.path.empty());
    host.Do("drop " + korean.utf8());
    auto lines = ControllerLines(ctl);
    auto drops = WithPrefix(lines, "WM_USER+4 ");
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(Field(drops[0], "title").find('?'), std::string::npos) << drops[0];
    EXPECT_EQ(WithPrefix(lines, "DROPFILE "), (std::vector<std::string>{"DROPFILE opens=1"}));
    EXPECT_TRUE(host.Quit());
}
