// mkhost: a stand-in for the mascot host, run as "sakura.exe", "embryo.exe" or "ssp.exe"
// (the build makes the copies) or under any other name. It has the host's windows
// ("TPUtilWindow" for the first kind, "Tmainform"), publishes them in the shared memory
// "Sakura", opens the context menus the hook library recognises, accepts dropped files and
// prints every SSTP request it receives. Everything its own windows receive is logged, so that
// tests can see the host still handles each message itself.
//
// Options:
//   --kind sakura|embryo|ssp|other   behave as that host (default: from the image name)
//   --items N                         context menu item count (default 6; 8 for ssp)
//   --first dev|headline|plain        first menu item (default: headline for ssp, else plain)
//   --menu-owner tputil|tmainform     window that owns the context menu (default by kind)
//   --sakura normal|none|nohwnd|foreign|hostile|reserved|partial|file   the shared memory
//                                     (default:
//   normal for the
//                                     first kind, none otherwise); foreign lists a window of
//                                     another process first; hostile is 4096 bytes of broken
//                                     entries without a zero byte; reserved is made with
//                                     SEC_RESERVE and has no page committed; partial is
//                                     normal, made with SEC_RESERVE, only its first page
//                                     committed; file is normal, backed by a file of its own
//                                     instead of the paging file
//   --sakura-size N                   size of the mapping (default 65536)
//   --foreign HWND                    the foreign window (default: the desktop window)
//   --peek-first                      the message loop looks at each message with
//                                     PeekMessage(PM_NOREMOVE) before GetMessage removes it,
//                                     as some programs' loops do
// Standard input, one command per line:
//   echo X                 -> ECHO X (after every message posted before it has been handled)
//   menu                   open the context menu with TrackPopupMenu, print it from inside
//                          ("MENU open ..."), close it, print it again ("MENU closed ...")
//   initmenu               send WM_INITMENU for the context menu to its owner, then print it
//   menuselect ITEM FLAGS MENU   send WM_MENUSELECT (FLAGS hex, MENU 0 or "menu"), then print
//   menuclose              the close notification: menuselect 0 ffff 0
//   dumpmenu               print the context menu
//   command ID [HIGH] [tputil|tmainform]   post WM_COMMAND to the menu owner (or the window)
//   drop [tputil|tmainform] PATH[|PATH...] post WM_DROPFILES with a real drop handle (UTF-16
//                          paths, as the shell makes it; "dropansi": Shift_JIS paths)
//   hooked                 wait (at most 10 s) until the system has mapped mkhook.dll into
//                          this process, then print "HOOKED mkhook=0|1"
//   hookcode               pass the next WM_INITMENU down the hook chain with code 1
//   getmsgcode 1|0         from now on (1) or no longer (0), pass every WM_COMMAND and
//                          WM_DROPFILES retrieved down the WH_GETMESSAGE chain with code -1
//   image                  print the executable name the process snapshot reports for it
//   settle                 wait (at most 10 s) until no thread that began in mkhook.dll is
//                          left, then print "SETTLED threads=N mkhook=0|1"
//   heap                   print the bytes in use in the process heap ("HEAP busy=N"), where
//                          the hook library takes its buffers
//   hang MS                stop serving every window of the main thread for MS milliseconds,
//                          as a host that deadlocks ("HANG ms=MS", later "RESUMED")
//   quit                   end (also at the end of input)
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lineio.h"
#include "mirekko/protocol.h"
#include "rig.h"
#include "text.h"
#include "threads.h"

using namespace mk::tools;

namespace {

enum class Kind { Sakura, Embryo, Ssp, Other };
enum class Sakura { Normal, None, NoHwnd, Foreign, Hostile, Reserved, Partial, File };

struct Options {
    Kind kind = Kind::Other;
    bool kindGiven = false;
    int items = -1;
    std::string first;
    std::string menuOwner;
    Sakura sakura = Sakura::Normal;
    bool sakuraGiven = false;
    DWORD sakuraSize = 65536;
    HWND foreign = nullptr;
    bool peekFirst = false;
};

Options g_opt;
HWND g_tputil;
HWND g_mainform;
HWND g_commands;
HWND g_menuOwner;
HMENU g_contextMenu;
HANDLE g_mapping;
HHOOK g_codeHook;
bool g_codeArmed;
HHOOK g_negativeCodeHook;
bool g_negativeCode;
bool g_trackingMenu;
bool g_inMenuLoop;
// Command lines that arrive while the menu's modal loop runs: they wait for its end, so that
// the output keeps the order of the commands.
std::vector<std::string> g_deferred;
const UINT_PTR kMenuTimer = 1;
const UINT WM_MK_AFTER_QUEUE = WM_APP + 1;

const char* KindName(Kind k) {
    switch (k) {
        case Kind::Sakura:
            return "sakura";
        case Kind::Embryo:
            return "embryo";
        case Kind::Ssp:
            return "ssp";
        default:
            return "other";
    }
}

// Handles as signed decimal at the width of a pointer (long has 32 bits on 64-bit Windows).
long long H(const void* h) {
    return static_cast<long long>(reinterpret_cast<LONG_PTR>(h));
}

const char* WindowName(HWND hwnd) {
    if (hwnd == g_tputil)
        return "tputil";
    if (hwnd == g_mainform)
        return "tmainform";
    return "other";
}

Kind KindFromImage() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    for (auto& c : name)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    if (name.find(L"ssp.exe") != std::wstring::npos)
        return Kind::Ssp;
    if (name.find(L"sakura.exe") != std::wstring::npos)
        return Kind::Sakura;
    if (name.find(L"embryo.exe") != std::wstring::npos)
        return Kind::Embryo;
    return Kind::Other;
}

void RunCommand(const std::string& line);

// ---- the context menu -------------------------------------------------------------------

std::string FirstItemText() {
    // UTF-8 here; the menu holds Shift_JIS, as the host's ANSI menus do.
    if (g_opt.first == "dev")
        return "開発用インターフェース(&D)";
    if (g_opt.first == "headline")
        return "ヘッドライン(&H)";
    return "ゴースト切り替え(&G)";
}

void BuildContextMenu() {
    g_contextMenu = CreatePopupMenu();
    AppendMenuA(g_contextMenu, MF_STRING, 100, Utf8ToSjis(FirstItemText()).c_str());
    for (int i = 1; i < g_opt.items; ++i)
        AppendMenuA(g_contextMenu, MF_STRING, 100 + i, Format("Item%d", i).c_str());
}

void DumpMenu(const char* when) {
    int count = GetMenuItemCount(g_contextMenu);
    std::string items;
    for (int i = 0; i < count; ++i) {
        char text[1024] = "";
        if (GetMenuState(g_contextMenu, i, MF_BYPOSITION) & MF_SEPARATOR)
            lstrcpyA(text, "-");
        else
            GetMenuStringA(g_contextMenu, i, text, sizeof text, MF_BYPOSITION);
        if (i)
            items += "|";
        items += SjisToUtf8(text);
    }
    Out(Format("MENU %s count=%d items=", when, count) + items);
}

void ShowContextMenu() {
    POINT pt = {60, 60};
    SetForegroundWindow(g_menuOwner);
    g_trackingMenu = true;
    g_inMenuLoop = true;
    // Closes the menu should WM_ENTERIDLE never come.
    SetTimer(g_menuOwner, kMenuTimer, 3000, nullptr);
    TrackPopupMenu(g_contextMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, g_menuOwner,
                   nullptr);
    KillTimer(g_menuOwner, kMenuTimer);
    g_trackingMenu = false;
    g_inMenuLoop = false;
    DumpMenu("closed");
    std::vector<std::string> deferred;
    deferred.swap(g_deferred);
    for (const auto& line : deferred)
        RunCommand(line);
}

// Seen from inside the open menu, then closed without a choice.
void DumpOpenMenuAndClose() {
    if (!g_trackingMenu)
        return;
    g_trackingMenu = false;
    DumpMenu("open");
    EndMenu();
}

// A thread hook of the host's own: thread hooks run before the global ones, so the hook
// library's procedure receives the code passed on here.
LRESULT CALLBACK CodeHookProc(int code, WPARAM wp, LPARAM lp) {
    const CWPSTRUCT* cwp = reinterpret_cast<const CWPSTRUCT*>(lp);
    if (code == HC_ACTION && g_codeArmed && cwp->message == WM_INITMENU) {
        g_codeArmed = false;
        return CallNextHookEx(g_codeHook, 1, wp, lp);
    }
    return CallNextHookEx(g_codeHook, code, wp, lp);
}

// The same for retrieved messages: a negative code tells the hooks after this one to pass the
// message on untouched.
LRESULT CALLBACK NegativeCodeHookProc(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && g_negativeCode) {
        const MSG* msg = reinterpret_cast<const MSG*>(lp);
        if (msg->message == WM_COMMAND || msg->message == WM_DROPFILES)
            return CallNextHookEx(g_negativeCodeHook, -1, wp, lp);
    }
    return CallNextHookEx(g_negativeCodeHook, code, wp, lp);
}

// ---- the shared memory "Sakura" ---------------------------------------------------------

std::string Entry(const std::string& key, const std::string& value) {
    return Format("%lu.", GetCurrentProcessId()) + key + "\x01" + value + "\r\n";
}

void PublishSakura() {
    if (g_opt.sakura == Sakura::None)
        return;
    DWORD size = g_opt.sakura == Sakura::Hostile ? 4096 : g_opt.sakuraSize;
    // Bytes 0-3 are not part of the list; zeros there must not end it.
    std::string text("\x00\x10\x00\x00", 4);
    std::string main = Format("%lld", H(g_mainform));
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    text += Entry("name", "mkhost");
    text += Entry("path", std::string(exe, n));
    switch (g_opt.sakura) {
        case Sakura::Normal:
        case Sakura::Reserved:
        case Sakura::Partial:
        case Sakura::File:
            text += Entry("hwnd", main);
            text += Entry("kerohwnd", main);
            break;
        case Sakura::Foreign:
            text += Entry("hwnd",
                          Format("%lld", H(g_opt.foreign ? g_opt.foreign : GetDesktopWindow())));
            text += Entry("kerohwnd", main);
            break;
        case Sakura::Hostile:
            // Entries that break the format, then the real one, then filler up to the last
            // byte: no zero byte anywhere, the last entry cut off.
            text += Entry("aaaaaaaaaaaaaaaaaaaahwnd", "1");
            text += Entry("hwnd", "123456789012345");
            text +=
                "nodot_hwnd\x01"
                "2\r\n";
            text += Entry("hwnd", main);
            while (text.size() < size)
                text +=
                    "x.hwnd\x01"
                    "77777777";
            text.resize(size);
            break;
        default:
            break;
    }
    const bool reserve = g_opt.sakura == Sakura::Reserved || g_opt.sakura == Sakura::Partial;
    HANDLE backing = INVALID_HANDLE_VALUE;
    if (g_opt.sakura == Sakura::File) {
        // Gone with the process.
        char dir[MAX_PATH] = "", file[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "skr", 0, file);
        backing = CreateFileA(file, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                              nullptr);
        if (backing == INVALID_HANDLE_VALUE) {
            Out(Format("ERROR cannot create the file behind \"Sakura\" error=%lu", GetLastError()));
            return;
        }
    }
    g_mapping = CreateFileMappingA(backing, nullptr, PAGE_READWRITE | (reserve ? SEC_RESERVE : 0),
                                   0, size, MK_HOST_SHARED_MEMORY);
    if (!g_mapping || GetLastError() == ERROR_ALREADY_EXISTS) {
        Out("ERROR shared memory \"Sakura\" exists already or cannot be created");
        return;
    }
    void* view = MapViewOfFile(g_mapping, FILE_MAP_WRITE, 0, 0, 0);
    // Reserved pages hold nothing until they are committed; "reserved" commits none.
    if (view && g_opt.sakura == Sakura::Partial &&
        !VirtualAlloc(view, 4096, MEM_COMMIT, PAGE_READWRITE))
        Out(Format("ERROR cannot commit the first page error=%lu", GetLastError()));
    if (view && g_opt.sakura != Sakura::Reserved) {
        size_t bytes = text.size() < size ? text.size() : size;
        if (g_opt.sakura == Sakura::Partial && bytes > 4096)
            bytes = 4096;
        CopyMemory(view, text.data(), bytes);
    }
    if (view)
        UnmapViewOfFile(view);
}

// ---- drops and commands -----------------------------------------------------------------

// A drop handle as the shell makes one: DROPFILES, then the paths, each zero-terminated, and
// one more zero. The shell of today writes UTF-16 paths; `ansi` makes one with Shift_JIS
// paths, as older programs do.
HGLOBAL MakeDrop(const std::vector<std::string>& paths, bool ansi) {
    std::string list;
    for (const auto& p : paths) {
        if (ansi) {
            list += Utf8ToSjis(p) + '\0';
        } else {
            std::wstring w = Utf8ToWide(p) + L'\0';
            list.append(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
        }
    }
    list.append(ansi ? 1 : sizeof(wchar_t), '\0');
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + list.size());
    if (!h)
        return nullptr;
    auto* df = static_cast<DROPFILES*>(GlobalLock(h));
    df->pFiles = sizeof(DROPFILES);
    df->pt.x = 10;
    df->pt.y = 10;
    df->fWide = ansi ? FALSE : TRUE;
    CopyMemory(reinterpret_cast<char*>(df) + sizeof(DROPFILES), list.data(), list.size());
    GlobalUnlock(h);
    return h;
}

HWND NamedWindow(const std::string& name, HWND fallback) {
    if (name == "tputil")
        return g_tputil;
    if (name == "tmainform")
        return g_mainform;
    return fallback;
}

// The executable name the process snapshot reports, as the hook library sees it.
int ImageNameOf(DWORD pid, char* path) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    int found = 0;
    for (BOOL ok = Process32First(snap, &entry); ok && !found; ok = Process32Next(snap, &entry)) {
        if (entry.th32ProcessID == pid) {
            lstrcpynA(path, entry.szExeFile, MAX_PATH);
            found = 1;
        }
    }
    CloseHandle(snap);
    return found;
}

// The system maps a global hook's library into a process on the way of some message; which
// one is up to the system (Wine maps it a message or two late). Tests wait for it here, so
// that the first message they care about finds the library in place.
void WaitForHookLibrary() {
    DWORD start = GetTickCount();
    HMODULE hook = GetModuleHandleA("mkhook.dll");
    while (!hook && GetTickCount() - start < mk::tools::RigLimit()) {
        SendMessageA(g_mainform, WM_NULL, 0, 0);
        // Only the main window's messages are taken from the queue: the command lines, posted
        // to another window, wait their turn.
        PostMessageA(g_mainform, WM_NULL, 0, 0);
        MSG msg;
        while (PeekMessageA(&msg, g_mainform, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        hook = GetModuleHandleA("mkhook.dll");
        if (!hook)
            Sleep(20);
    }
    Out(Format("HOOKED mkhook=%d ms=%lu", hook ? 1 : 0, GetTickCount() - start));
}

void Settle() {
    HMODULE hook = GetModuleHandleA("mkhook.dll");
    int threads = CountThreadsStartedIn(hook);
    DWORD start = GetTickCount();
    while (threads > 0 && GetTickCount() - start < mk::tools::RigLimit()) {
        Sleep(10);
        threads = CountThreadsStartedIn(hook);
    }
    Out(Format("SETTLED threads=%d mkhook=%d", threads, hook ? 1 : 0));
}

void RunCommand(const std::string& line) {
    std::string rest = line;
    std::string cmd = NextWord(rest);
    if (cmd == "echo" || cmd == "settle") {
        // Posted once more, so that it runs after every message the commands before it posted.
        PostMessageA(g_commands, WM_MK_AFTER_QUEUE, 0,
                     reinterpret_cast<LPARAM>(new std::string(line)));
    } else if (cmd == "image") {
        char path[MAX_PATH] = "";
        int found = ImageNameOf(GetCurrentProcessId(), path);
        Out(Format("IMAGE found=%d exe=", found) + SjisToUtf8(path));
    } else if (cmd == "quit") {
        PostQuitMessage(0);
    } else if (cmd == "menu") {
        ShowContextMenu();
    } else if (cmd == "initmenu") {
        SendMessageA(g_menuOwner, WM_INITMENU, reinterpret_cast<WPARAM>(g_contextMenu), 0);
        DumpMenu("init");
    } else if (cmd == "menuselect" || cmd == "menuclose") {
        UINT item = 0, flags = 0xFFFF;
        std::string menu = "0";
        if (cmd == "menuselect") {
            item = strtoul(NextWord(rest).c_str(), nullptr, 10);
            flags = strtoul(NextWord(rest).c_str(), nullptr, 16);
            menu = NextWord(rest);
        }
        LPARAM hmenu = menu == "menu" ? reinterpret_cast<LPARAM>(g_contextMenu) : 0;
        SendMessageA(g_menuOwner, WM_MENUSELECT, MAKEWPARAM(item, flags), hmenu);
        DumpMenu("after");
    } else if (cmd == "dumpmenu") {
        DumpMenu("now");
    } else if (cmd == "command") {
        UINT id = strtoul(NextWord(rest).c_str(), nullptr, 10);
        std::string high = NextWord(rest);
        HWND target = NamedWindow(NextWord(rest), g_menuOwner);
        PostMessageA(target, WM_COMMAND, MAKEWPARAM(id, strtoul(high.c_str(), nullptr, 10)), 0);
    } else if (cmd == "drop" || cmd == "dropansi") {
        std::string word = NextWord(rest);
        HWND target = NamedWindow(word, nullptr);
        if (!target) {
            target = g_mainform;
            rest = word + rest;
        }
        while (!rest.empty() && rest[0] == ' ')
            rest.erase(0, 1);
        std::vector<std::string> paths;
        size_t start = 0;
        for (;;) {
            size_t bar = rest.find('|', start);
            paths.push_back(
                rest.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
            if (bar == std::string::npos)
                break;
            start = bar + 1;
        }
        HGLOBAL h = MakeDrop(paths, cmd == "dropansi");
        if (!target || !h || !PostMessageA(target, WM_DROPFILES, reinterpret_cast<WPARAM>(h), 0)) {
            if (h)
                GlobalFree(h);
            Out("ERROR drop not posted");
        }
    } else if (cmd == "heap") {
        HANDLE heap = GetProcessHeap();
        PROCESS_HEAP_ENTRY entry = {};
        unsigned long busy = 0;
        HeapLock(heap);
        while (HeapWalk(heap, &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += static_cast<unsigned long>(entry.cbData);
        HeapUnlock(heap);
        Out(Format("HEAP busy=%lu", busy));
    } else if (cmd == "hang") {
        DWORD ms = strtoul(NextWord(rest).c_str(), nullptr, 10);
        Out(Format("HANG ms=%lu", ms));
        Sleep(ms);
        Out("RESUMED");
    } else if (cmd == "hooked") {
        WaitForHookLibrary();
    } else if (cmd == "hookcode") {
        if (!g_codeHook)
            g_codeHook =
                SetWindowsHookExA(WH_CALLWNDPROC, CodeHookProc, nullptr, GetCurrentThreadId());
        g_codeArmed = g_codeHook != nullptr;
        Out(Format("HOOKCODE armed=%d", g_codeArmed ? 1 : 0));
    } else if (cmd == "getmsgcode") {
        if (!g_negativeCodeHook)
            g_negativeCodeHook = SetWindowsHookExA(WH_GETMESSAGE, NegativeCodeHookProc, nullptr,
                                                   GetCurrentThreadId());
        g_negativeCode = g_negativeCodeHook && NextWord(rest) == "1";
        Out(Format("GETMSGCODE negative=%d", g_negativeCode ? 1 : 0));
    } else if (!cmd.empty()) {
        Out("ERROR unknown command " + cmd);
    }
}

// ---- window procedures ------------------------------------------------------------------

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITMENU:
            Out(Format("HOST WM_INITMENU window=%s menu=%lld", WindowName(hwnd),
                       static_cast<long long>(static_cast<LONG_PTR>(wp))));
            break;
        case WM_MENUSELECT:
            Out(Format("HOST WM_MENUSELECT window=%s item=%u flags=%x menu=%lld", WindowName(hwnd),
                       LOWORD(wp), HIWORD(wp), static_cast<long long>(lp)));
            break;
        case WM_ENTERIDLE:
            if (wp == MSGF_MENU)
                DumpOpenMenuAndClose();
            break;
        case WM_TIMER:
            if (wp == kMenuTimer) {
                KillTimer(hwnd, kMenuTimer);
                DumpOpenMenuAndClose();
                return 0;
            }
            break;
        case WM_COMMAND:
            Out(Format("HOST WM_COMMAND window=%s id=%u high=%u", WindowName(hwnd), LOWORD(wp),
                       HIWORD(wp)));
            return 0;
        case WM_DROPFILES: {
            HDROP hDrop = reinterpret_cast<HDROP>(wp);
            UINT count = DragQueryFileA(hDrop, 0xFFFFFFFF, nullptr, 0);
            Out(Format("HOST WM_DROPFILES window=%s count=%u", WindowName(hwnd), count));
            for (UINT i = 0; i < count; ++i) {
                wchar_t path[MAX_PATH * 4] = L"";
                DragQueryFileW(hDrop, i, path, MAX_PATH * 4);
                Out("HOST   path=" + WideToUtf8(path));
            }
            DragFinish(hDrop);
            return 0;
        }
        case WM_COPYDATA:
            LogCopyData(hwnd, wp, reinterpret_cast<const COPYDATASTRUCT*>(lp));
            return TRUE;
        case WM_RBUTTONUP:
            ShowContextMenu();
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK CommandProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_MK_STDIN_LINE:
            if (g_inMenuLoop)
                g_deferred.push_back(TakeCommand(lp));
            else
                RunCommand(TakeCommand(lp));
            return 0;
        case WM_MK_AFTER_QUEUE: {
            std::string rest = TakeCommand(lp);
            if (NextWord(rest) == "settle")
                Settle();
            else
                Out("ECHO " + (rest.empty() ? rest : rest.substr(1)));
            return 0;
        }
        case WM_MK_STDIN_EOF:
            if (g_inMenuLoop)
                g_deferred.push_back("quit");
            else
                PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

bool ParseOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string v = i + 1 < argc ? argv[i + 1] : "";
        bool hasValue = i + 1 < argc;
        if (a == "--kind" && hasValue) {
            ++i;
            g_opt.kindGiven = true;
            if (v == "sakura")
                g_opt.kind = Kind::Sakura;
            else if (v == "embryo")
                g_opt.kind = Kind::Embryo;
            else if (v == "ssp")
                g_opt.kind = Kind::Ssp;
            else if (v == "other")
                g_opt.kind = Kind::Other;
            else
                return false;
        } else if (a == "--items" && hasValue) {
            g_opt.items = atoi(argv[++i]);
            if (g_opt.items < 1)
                return false;
        } else if (a == "--first" && hasValue && (v == "dev" || v == "headline" || v == "plain")) {
            g_opt.first = argv[++i];
        } else if (a == "--menu-owner" && hasValue && (v == "tputil" || v == "tmainform")) {
            g_opt.menuOwner = argv[++i];
        } else if (a == "--sakura" && hasValue) {
            ++i;
            g_opt.sakuraGiven = true;
            if (v == "normal")
                g_opt.sakura = Sakura::Normal;
            else if (v == "none")
                g_opt.sakura = Sakura::None;
            else if (v == "nohwnd")
                g_opt.sakura = Sakura::NoHwnd;
            else if (v == "foreign")
                g_opt.sakura = Sakura::Foreign;
            else if (v == "hostile")
                g_opt.sakura = Sakura::Hostile;
            else if (v == "reserved")
                g_opt.sakura = Sakura::Reserved;
            else if (v == "partial")
                g_opt.sakura = Sakura::Partial;
            else if (v == "file")
                g_opt.sakura = Sakura::File;
            else
                return false;
        } else if (a == "--sakura-size" && hasValue) {
            g_opt.sakuraSize = strtoul(argv[++i], nullptr, 10);
            if (g_opt.sakuraSize < 4)
                return false;
        } else if (a == "--peek-first") {
            g_opt.peekFirst = true;
        } else if (a == "--foreign" && hasValue) {
            g_opt.foreign =
                reinterpret_cast<HWND>(static_cast<LONG_PTR>(strtoll(argv[++i], nullptr, 10)));
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv)) {
        Out("ERROR usage: mkhost [--kind K] [--items N] [--first dev|headline|plain] "
            "[--menu-owner tputil|tmainform] "
            "[--sakura normal|none|nohwnd|foreign|hostile|reserved|partial|file] "
            "[--sakura-size N] [--foreign HWND] [--peek-first]");
        return 2;
    }
    if (!g_opt.kindGiven)
        g_opt.kind = KindFromImage();
    const bool firstKind = g_opt.kind == Kind::Sakura || g_opt.kind == Kind::Embryo;
    const bool ssp = g_opt.kind == Kind::Ssp;
    if (g_opt.items < 0)
        g_opt.items = ssp ? 8 : 6;
    if (g_opt.first.empty())
        g_opt.first = ssp ? "headline" : "plain";
    if (g_opt.menuOwner.empty())
        g_opt.menuOwner = ssp ? "tmainform" : "tputil";
    if (!g_opt.sakuraGiven)
        g_opt.sakura = firstKind ? Sakura::Normal : Sakura::None;

    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = MK_HOST_MAIN_CLASS;
    RegisterClassA(&wc);
    wc.lpszClassName = MK_HOST_MENU_CLASS;
    RegisterClassA(&wc);
    wc.lpfnWndProc = CommandProc;
    wc.lpszClassName = "MkHostCommands";
    RegisterClassA(&wc);

    g_commands = CreateWindowExA(0, "MkHostCommands", "mkhost", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                 nullptr, inst, nullptr);
    if (!ssp || g_opt.menuOwner == "tputil")
        g_tputil = CreateWindowExA(0, MK_HOST_MENU_CLASS, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                   nullptr, inst, nullptr);
    g_mainform = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_ACCEPTFILES, MK_HOST_MAIN_CLASS,
                                 Format("mkhost %s", KindName(g_opt.kind)).c_str(),
                                 WS_POPUP | WS_VISIBLE | WS_BORDER, 40, 40, 200, 160, nullptr,
                                 nullptr, inst, nullptr);
    DragAcceptFiles(g_mainform, TRUE);
    g_menuOwner = g_opt.menuOwner == "tputil" ? g_tputil : g_mainform;
    BuildContextMenu();
    PublishSakura();

    Out(Format("READY pid=%lu kind=%s tmainform=%lld tputil=%lld", GetCurrentProcessId(),
               KindName(g_opt.kind), H(g_mainform), H(g_tputil)));
    StartStdinReader(g_commands);

    MSG msg;
    for (;;) {
        if (g_opt.peekFirst) {
            // A look that leaves the message in the queue: the hooks see it once so, and once
            // more when GetMessage takes it.
            MSG next;
            while (!PeekMessageA(&next, nullptr, 0, 0, PM_NOREMOVE))
                WaitMessage();
        }
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (g_negativeCodeHook)
        UnhookWindowsHookEx(g_negativeCodeHook);
    if (g_codeHook)
        UnhookWindowsHookEx(g_codeHook);
    if (g_mapping)
        CloseHandle(g_mapping);
    DestroyMenu(g_contextMenu);
    return 0;
}
