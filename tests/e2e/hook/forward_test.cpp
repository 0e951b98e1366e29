// Commands chosen from the suite's pop-up and files dropped on the mascot, passed on to the
// controller, each once; and the host still handling each of them itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

TEST(DropForwarding, ANameTheCodePageCannotWriteNeverReachesTheControllerAsAnotherFile) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    // Best-fit would write U+00A5 as 0x5C (a backslash) and "é" as "e" on code page 932, so
    // that "<dir>\nowhere\a¥..¥..¥decoy¥evil café.mkp" would name "<dir>\decoy\evil
    // cafe.mkp": a file of its own, and here one that exists.
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    const std::wstring dir = std::wstring(temp) + L"mkhook-bestfit";
    CreateDirectoryW(dir.c_str(), nullptr);
    CreateDirectoryW((dir + L"\\decoy").c_str(), nullptr);
    const std::wstring decoy = dir + L"\\decoy\\evil cafe.mkp";
    HANDLE h = CreateFileW(decoy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    // Its folder does not exist, so that it has no short name, as on a volume without 8.3
    // names (where every file takes this way).
    const std::wstring dropped =
        dir + L"\\nowhere\\a\u00a5..\u00a5..\u00a5decoy\u00a5evil caf\u00e9.mkp";
    host.Do("drop " + mk::tools::WideToUtf8(dropped));
    auto lines = ControllerLines(ctl);
    // The controller gets "?" where the code page has no character: a name that opens nothing.
    EXPECT_EQ(WithPrefix(lines, "WM_USER+4 "),
              (std::vector<std::string>{
                  Drop(host.tmainform,
                       mk::tools::WideToUtf8(dir) + "\\nowhere\\a?..?..?decoy?evil caf?.mkp")}));
    EXPECT_EQ(WithPrefix(lines, "DROPFILE "), (std::vector<std::string>{"DROPFILE opens=0"}));
    EXPECT_TRUE(host.Quit());
    DeleteFileW(decoy.c_str());
    RemoveDirectoryW((dir + L"\\decoy").c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST(DropForwarding, PathsTooLongForTheBufferGoByTheirShortNameOrNotAtAll) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host host = Host::Start(L"sakura.exe");
    ASSERT_TRUE(host.ok());
    // Eight folders of 80 Japanese letters each: some 700 characters, but over 1300 bytes in
    // Shift_JIS, past the 1023 the title carries. The wide calls reach them by "\\?\".
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"mkhook-long";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    std::vector<std::wstring> made = {dir};
    const std::wstring letters = L"長い名前のフォルダ表示ソフト能力";
    for (int level = 0; level < 8; ++level) {
        std::wstring part;
        while (part.size() < 80)
            part += letters;
        dir += L"\\" + part.substr(0, 80);
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + dir).c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        made.push_back(dir);
    }
    const std::wstring file = dir + L"\\plugin.mkp";
    HANDLE h = CreateFileW((L"\\\\?\\" + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    const std::string long_path = mk::tools::WideToUtf8(file);
    ASSERT_GT(Utf8ToSjis(long_path).size(), 1023u);

    // The file's short name fits, and opens it.
    host.Do("drop " + long_path);
    auto lines = ControllerLines(ctl);
    auto drops = WithPrefix(lines, "WM_USER+4 ");
    ASSERT_EQ(drops.size(), 1u);
    const std::string title = Field(drops[0], "title");
    EXPECT_LT(Utf8ToSjis(title).size(), 1024u);
    EXPECT_NE(title, long_path.substr(0, title.size())) << "cut off: " << title;
    EXPECT_EQ(WithPrefix(lines, "DROPFILE "), (std::vector<std::string>{"DROPFILE opens=1"}));
    std::printf("a path of %zu bytes in Shift_JIS went as %s\n", Utf8ToSjis(long_path).size(),
                title.c_str());

    // A file that does not exist has no short name: nothing goes, rather than a path cut off.
    auto missing = host.Do("drop " + mk::tools::WideToUtf8(dir + L"\\missing.mkp"));
    EXPECT_EQ(WithPrefix(missing, "HOST WM_DROPFILES window=tmainform count=1").size(), 1u);
    EXPECT_TRUE(WithPrefix(ControllerLines(ctl), "WM_USER+4 ").empty());
    EXPECT_TRUE(host.Quit());

    DeleteFileW((L"\\\\?\\" + file).c_str());
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        RemoveDirectoryW((L"\\\\?\\" + *it).c_str());
}

TEST(MessageRetrieval, AHostThatPeeksFirstHasEachDropAndCommandForwardedOnce) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    {
        Host sakura = Host::Start(L"sakura.exe", L"--peek-first");
        ASSERT_TRUE(sakura.ok());
        sakura.Do("drop C:\\a.txt");
        sakura.Do("drop C:\\b.txt");
        sakura.Do("command 1000 0 tputil");
        sakura.Do("command 1001 0 tputil");
        sakura.Settle();
        auto lines = ControllerLines(ctl);
        EXPECT_EQ(WithPrefix(lines, "WM_USER+4 "),
                  (std::vector<std::string>{Drop(sakura.tmainform, "C:\\a.txt"),
                                            Drop(sakura.tmainform, "C:\\b.txt")}));
        auto commands = WithPrefix(lines, "WM_USER+0 ");
        std::sort(commands.begin(), commands.end());
        EXPECT_EQ(commands, (std::vector<std::string>{Command(sakura.tmainform, 1000),
                                                      Command(sakura.tmainform, 1001)}));
        EXPECT_TRUE(sakura.Quit());
    }
    // "ssp.exe": the pending command is spent by the command chosen, not by a look at it, and
    // the alternation counts each drop once.
    Host ssp = Host::Start(L"ssp.exe", L"--peek-first");
    ASSERT_TRUE(ssp.ok());
    ssp.Do("initmenu");
    ssp.Do("menuclose");
    ssp.Do("command 1000");
    ssp.Do("command 1001");
    for (const char* path : {"C:\\1.txt", "C:\\2.txt", "C:\\3.txt"})
        ssp.Do(std::string("drop ") + path);
    ssp.Settle();
    auto lines = ControllerLines(ctl);
    EXPECT_EQ(WithPrefix(lines, "WM_USER+0 "),
              (std::vector<std::string>{Command(ssp.tmainform, 1000)}));
    EXPECT_EQ(WithPrefix(lines, "WM_USER+4 "),
              (std::vector<std::string>{Drop(ssp.tmainform, "C:\\1.txt"),
                                        Drop(ssp.tmainform, "C:\\3.txt")}));
    EXPECT_TRUE(ssp.Quit());
}

TEST(MessageRetrieval, ANegativeHookCodePassesTheMessageOnUntouched) {
    ControllerSession session;
    Controller& ctl = session.ctl;
    ASSERT_TRUE(ctl.ok());
    Host ssp = Host::Start(L"ssp.exe");
    ASSERT_TRUE(ssp.ok());
    ssp.Do("initmenu");
    ASSERT_EQ(WithPrefix(ssp.Do("getmsgcode 1"), "GETMSGCODE negative=1").size(), 1u);
    // Neither forwarded nor counted: the pending command and the alternation stay as they were.
    EXPECT_EQ(WithPrefix(ssp.Do("command 1000"), "HOST WM_COMMAND ").size(), 1u);
    EXPECT_EQ(WithPrefix(ssp.Do("drop C:\\unseen.txt"), "HOST WM_DROPFILES ").size(), 1u);
    ssp.Do("getmsgcode 0");
    ssp.Do("command 1001");
    ssp.Do("drop C:\\seen.txt");
    ssp.Settle();
    auto lines = ControllerLines(ctl);
    EXPECT_EQ(WithPrefix(lines, "WM_USER+0 "),
              (std::vector<std::string>{Command(ssp.tmainform, 1001)}));
    EXPECT_EQ(WithPrefix(lines, "WM_USER+4 "),
              (std::vector<std::string>{Drop(ssp.tmainform, "C:\\seen.txt")}));
    EXPECT_TRUE(ssp.Quit());
}
