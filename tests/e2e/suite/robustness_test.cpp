// Bad input to the plug-in, and the hooks in programs that have nothing to do with the suite.
#include <gtest/gtest.h>
#include <windows.h>

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "suite_fixture.h"

using namespace mk::test;

namespace {

// How a run of the plug-in ended.
struct PluginEnd {
    bool ended = false;      // within the time allowed
    bool error_box = false;  // showed an error box (closed by the test)
    DWORD exit_code = STILL_ACTIVE;
};

HWND ErrorBoxOf(DWORD pid) {
    for (HWND h : WindowsOfProcess(pid)) {
        wchar_t cls[64] = L"";
        GetClassNameW(h, cls, 64);
        if (std::wstring(cls) == L"#32770" && IsWindowVisible(h))
            return h;
    }
    return nullptr;
}

PluginEnd RunPlugin(const std::wstring& args) {
    PluginEnd end;
    auto child = Child::Start(BinPath(L"ramtidy.exe"), args);
    if (!child)
        return end;
    DWORD pid = child->pid();
    WaitUntil([&] {
        if (child->Wait(0) != STILL_ACTIVE)
            return true;
        if (HWND box = ErrorBoxOf(pid)) {
            end.error_box = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        return false;
    });
    end.exit_code = child->Wait(0);
    end.ended = end.exit_code != STILL_ACTIVE;
    return end;
}

std::wstring W(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace

TEST(PluginBadInput, EachEndsSilentlyOrWithItsErrorBoxAndNeverSendsAstray) {
    Running host = Running::Start(L"ssp.exe");
    ASSERT_TRUE(host.ok());
    std::string mascot = std::to_string(host.Get("tmainform"));
    struct Case {
        const char* what;
        std::wstring args;
        bool error;  // an error box, or a silent end
    };
    const Case cases[] = {
        {"very long, no blank", std::wstring(30000, L'x'), false},
        {"only blanks", std::wstring(200, L' '), false},
        {"very long handle", L"MK" + std::wstring(20000, L'9') + L" /MEMSTATUS", true},
        {"huge handle", L"MK" + std::wstring(kHandleFarBeyondRange) + L" /MEMSTATUS", true},
        {"handle just past the range", L"MK" + std::wstring(kHandleJustPastRange) + L" /MEMSTATUS",
         true},
        {"blank at the second position", L"M 123 /MEMSTATUS", true},
        {"negative handle", L"MK-5 /MEMSTATUS", false},
        {"full-width digits", L"MK\uff11\uff12\uff13 /MEMSTATUS", false},
        {"non-ASCII leading characters", L"\u30df\u30ec1 /MEMSTATUS", false},
        {"handle that is no window", L"MK12345 /MEMSTATUS", false},
        {"non-ASCII switch", L"MK12345 /\u30e1\u30e2\u30ea", false},
        {"step count beyond 32 bits", L"MK" + W(mascot) + L" /1000000000000000", true},
        {"percentage beyond any number", L"MK" + W(mascot) + L" /" + std::wstring(400, L'9'), true},
        {"tab instead of blank", L"MK" + W(mascot) + L"\t/MEMSTATUS", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PluginEnd end = RunPlugin(c.args);
        ASSERT_TRUE(end.ended) << "the plug-in hung";
        EXPECT_EQ(end.error_box, c.error);
        if (c.error)
            EXPECT_NE(end.exit_code, 0u);
        else
            EXPECT_EQ(end.exit_code, 0u);
    }
    // None of them reached the mascot: those aimed at it stopped before sending.
    auto lines = host.Sync();
    for (const auto& l : lines)
        EXPECT_NE(l.rfind("COPYDATA", 0), 0u) << l;
    host.child->Send("quit");
    EXPECT_EQ(host.child->CloseAndWait(), 0u);
}

namespace {

bool ModuleLoadedIn(DWORD pid, const wchar_t* name) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE)
        return false;
    MODULEENTRY32W me;
    me.dwSize = sizeof me;
    bool found = false;
    for (BOOL ok = Module32FirstW(snap, &me); ok && !found; ok = Module32NextW(snap, &me))
        found = lstrcmpiW(me.szModule, name) == 0;
    CloseHandle(snap);
    return found;
}

std::wstring SystemProgram(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\" + name;
}

LRESULT CALLBACK CountingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP)
        return static_cast<LRESULT>(wp + 1);
    if (msg == WM_COMMAND || msg == WM_DROPFILES || msg == WM_INITMENU)
        SetWindowLongPtrW(h, GWLP_USERDATA, GetWindowLongPtrW(h, GWLP_USERDATA) + 1);
    return DefWindowProcW(h, msg, wp, lp);
}

}  // namespace

TEST(UnrelatedPrograms, NotepadStartsWorksAndEndsWithTheHooksInIt) {
    Running ctl = Running::Start(L"mkctl.exe");
    ASSERT_TRUE(ctl.ok());
    auto notepad = Child::Start(SystemProgram(L"notepad.exe"), L"");
    ASSERT_NE(notepad, nullptr);
    HWND main = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND h : WindowsOfProcess(notepad->pid()))
            if (IsWindowVisible(h))
                main = h;
        return main != nullptr;
    }));
    HWND edit = FindWindowExW(main, nullptr, L"Edit", nullptr);
    ASSERT_NE(edit, nullptr);
    // It works: text goes in and comes back, the menu and commands act as usual.
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"hooked, and unharmed"));
    wchar_t text[64] = L"";
    SendMessageW(edit, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"hooked, and unharmed");
    SendMessageW(main, WM_INITMENU, reinterpret_cast<WPARAM>(GetMenu(main)), 0);
    EXPECT_TRUE(WaitUntil([&] { return ModuleLoadedIn(notepad->pid(), L"mkhook.dll"); }));
    SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(notepad->Wait(), 0u);
    // Nothing of it reached the controller.
    for (const auto& l : ctl.Sync())
        EXPECT_NE(l.rfind("WM_USER+", 0), 0u) << l;
    EXPECT_EQ(Field(ctl.Ask("exit", "HookExit "), "threads"), "0");
}

TEST(UnrelatedPrograms, ConsoleProgramRunsNormally) {
    Running ctl = Running::Start(L"mkctl.exe");
    ASSERT_TRUE(ctl.ok());
    auto cmd = Child::Start(SystemProgram(L"system32\\cmd.exe"), L"/c echo hooked & exit 3");
    ASSERT_NE(cmd, nullptr);
    EXPECT_TRUE(cmd->Expect("hooked"));
    EXPECT_EQ(cmd->Wait(), 3u);
    EXPECT_EQ(Field(ctl.Ask("exit", "HookExit "), "threads"), "0");
}

TEST(UnrelatedPrograms, ManyWindowsWithTheHostsClassNamesAreLeftAlone) {
    // This test program is not a mascot host, though its windows carry the host's class
    // names: the hooks run in it, and must neither forward nor disturb anything.
    Running ctl = Running::Start(L"mkctl.exe");
    ASSERT_TRUE(ctl.ok());
    const wchar_t* classes[] = {L"Tmainform", L"TPUtilWindow", L"MkTestPlain"};
    for (const wchar_t* cls : classes) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = CountingProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = cls;
        RegisterClassW(&wc);
    }
    std::vector<HWND> windows;
    for (int i = 0; i < 300; ++i)
        windows.push_back(CreateWindowExW(0, classes[i % 3], L"many", WS_OVERLAPPEDWINDOW, 0, 0,
                                          100, 100, nullptr, nullptr, GetModuleHandleW(nullptr),
                                          nullptr));
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < 8; ++i)
        AppendMenuW(menu, MF_STRING, 100 + i, L"item");
    for (HWND w : windows) {
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(SendMessageW(w, WM_APP, 41, 0), 42);
        SendMessageW(w, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
        PostMessageW(w, WM_COMMAND, 1000, 0);
        PostMessageW(w, WM_DROPFILES, 0, 0);
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    EXPECT_TRUE(GetModuleHandleW(L"mkhook.dll") != nullptr);
    EXPECT_EQ(GetMenuItemCount(menu), 8);  // nothing inserted
    for (HWND w : windows) {
        EXPECT_EQ(GetWindowLongPtrW(w, GWLP_USERDATA), 3);  // each message reached the window
        DestroyWindow(w);
    }
    DestroyMenu(menu);
    for (const auto& l : ctl.Sync())
        EXPECT_NE(l.rfind("WM_USER+", 0), 0u) << l;
    EXPECT_EQ(Field(ctl.Ask("exit", "HookExit "), "threads"), "0");
}
