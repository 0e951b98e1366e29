// Controller stand-in: behaves towards mkhook.dll as the suite's controller does. It owns
// the window titled "MK_GETMSG_WND", loads the library, starts the hooks, answers the menu
// requests, prints one line for every message it receives, and calls the exports when told
// to on its standard input. With --plugin it starts the plug-in for the suite's commands.
//
// Usage: mkctl [--dll PATH] [--plugin PATH] [--no-window] [--no-start] [--thread ID]
//              [--null-popup] [--refuse-hook callwndproc|getmessage]
// Commands (one per line): start [ID] | exit | hookexit [MS] | refresh | inrefresh |
//   getversion | showversion [hookexit [MS]] | mkiok HWND|sink | threads | hooks | mutex |
//   title | destroywindow | createwindow | hang MS | stallaftertitle MS [once] |
//   holddrop MS [once] | slowsink MS | speakondrop 0|1 | titleback now|post|never |
//   refusehook none|callwndproc|getmessage | echo TEXT
//
// `stallaftertitle` makes the controller stop serving its windows for MS milliseconds once a
// drop's title is set, when WM_USER+4 arrives and before it reads the title (a long job, as a
// real controller may start one); with `once`, only for the next drop. That is where Windows
// lets a controller stall between the two: it sets another process's window title without a
// message, so the stand-in never waits for, nor stalls in, a WM_SETTEXT (which Wine sends).
// `holddrop` has the controller keep serving its windows for MS milliseconds inside WM_USER+4,
// after it read the path and before it takes its title back, as one that asks the user about
// the file in a dialog of its own: the title is the path all that time ("HOLD", then
// "RELEASED"). `speakondrop 1` has the mascot speak (an SSTP request to the drop's mascot
// window) while WM_USER+4 is being handled. `slowsink MS` has the sink window, a window of the
// controller's own process, take MS milliseconds over each request before it reads it.
// `showversion hookexit [MS]` calls HookExit at once after MKShowVersion, before the box can
// exist, or MS milliseconds later (serving nothing meanwhile), while it may be being made.
// `hookexit MS` calls HookExit after MS milliseconds in which the controller serves nothing.
// `titleback` says how the controller takes its title back after a drop: at once inside
// WM_USER+4 (`now`, the default), by a message it posts itself and handles afterwards
// (`post`), or not at all (`never`).
//
// The stand-in watches three of the library's calls, by its own entries in the library's
// import table: SetWindowsHookExA and UnhookWindowsHookEx (`hooks` prints how many hooks the
// library has in place) and TerminateThread (the HookExit line says how many threads it
// terminated). `--refuse-hook` makes the library's SetWindowsHookExA fail for that hook type,
// as the system may refuse it.
#include <windows.h>

#include <cstdlib>
#include <map>
#include <string>

#include "lineio.h"
#include "mirekko/mkhook.h"
#include "text.h"
#include "threads.h"

using namespace mk::tools;

namespace {

typedef HHOOK(WINAPI* HookStartFn)(DWORD, DWORD);
typedef int(WINAPI* NoArgFn)();
typedef int(WINAPI* ShowMKIOKFn)(HWND);

struct Library {
    HMODULE module = nullptr;
    HookStartFn HookStart = nullptr;
    NoArgFn HookExit = nullptr, MKRefresh = nullptr, InMKRefresh = nullptr, MKGetVersion = nullptr,
            MKShowVersion = nullptr;
    ShowMKIOKFn MKShowMKIOK = nullptr;
} g_lib;

bool g_exited;      // HookExit called already: the library is not called again
HWND g_controller;  // "MK_GETMSG_WND"
HWND g_commands;    // receives the stdin lines; also the sink for requests sent to "sink"
HMENU g_popup;      // the suite's pop-up, handed out for every WM_USER+3
HMENU g_lastMenu;   // the latest menu handed over for WM_USER+2; the library owns it
bool g_nullPopup;
DWORD g_stallAfterTitleMs;
bool g_stallOnce;
DWORD g_holdDropMs;
bool g_holdOnce;
DWORD g_slowSinkMs;
bool g_speakOnDrop;
enum class TitleBack { Now, Post, Never } g_titleBack = TitleBack::Now;
// Posted by the controller to itself: take the title back.
const UINT WM_MK_TITLE_BACK = WM_APP + 1;
std::string g_plugin;
std::map<unsigned, std::string> g_switches = {
    {1000, "/MEMSTATUS"}, {1001, "/1"}, {1002, "/SETTING"}};

// Handles as signed decimal at the width of a pointer (long has 32 bits on 64-bit Windows).
long long H(const void* h) {
    return static_cast<long long>(reinterpret_cast<LONG_PTR>(h));
}

// ---- what the library calls ---------------------------------------------------------------

typedef BOOL(WINAPI* TerminateThreadFn)(HANDLE, DWORD);
typedef HHOOK(WINAPI* SetWindowsHookExFn)(int, HOOKPROC, HINSTANCE, DWORD);
typedef BOOL(WINAPI* UnhookWindowsHookExFn)(HHOOK);

TerminateThreadFn g_systemTerminateThread;
SetWindowsHookExFn g_systemSetWindowsHookEx;
UnhookWindowsHookExFn g_systemUnhookWindowsHookEx;
LONG volatile g_terminated;  // threads the library terminated
LONG volatile g_hooksLive;   // hooks the library installed and has not removed
int g_refusedHook = -1;      // WH_CALLWNDPROC or WH_GETMESSAGE with --refuse-hook

BOOL WINAPI WatchedTerminateThread(HANDLE thread, DWORD code) {
    InterlockedIncrement(&g_terminated);
    return g_systemTerminateThread(thread, code);
}

HHOOK WINAPI WatchedSetWindowsHookEx(int type, HOOKPROC proc, HINSTANCE module, DWORD thread) {
    if (type == g_refusedHook) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HHOOK h = g_systemSetWindowsHookEx(type, proc, module, thread);
    if (h)
        InterlockedIncrement(&g_hooksLive);
    return h;
}

BOOL WINAPI WatchedUnhookWindowsHookEx(HHOOK h) {
    BOOL removed = g_systemUnhookWindowsHookEx(h);
    if (removed)
        InterlockedDecrement(&g_hooksLive);
    return removed;
}

// Points the loaded module's import of `dll`!`name` at `replacement`; the system's function
// goes to `*original`. The import is found by name in the lookup table beside the addresses.
bool Redirect(HMODULE module, const char* dll, const char* name, void* replacement,
              void** original) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress)
        return false;
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         imp->Name; ++imp) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0 ||
            !imp->OriginalFirstThunk)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), name) != 0)
                continue;
            DWORD protect;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                &protect))
                return false;
            *original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protect, &protect);
            return true;
        }
    }
    return false;
}

bool WatchTheLibrary(HMODULE module) {
    return Redirect(module, "kernel32.dll", "TerminateThread",
                    reinterpret_cast<void*>(&WatchedTerminateThread),
                    reinterpret_cast<void**>(&g_systemTerminateThread)) &&
           Redirect(module, "user32.dll", "SetWindowsHookExA",
                    reinterpret_cast<void*>(&WatchedSetWindowsHookEx),
                    reinterpret_cast<void**>(&g_systemSetWindowsHookEx)) &&
           Redirect(module, "user32.dll", "UnhookWindowsHookEx",
                    reinterpret_cast<void*>(&WatchedUnhookWindowsHookEx),
                    reinterpret_cast<void**>(&g_systemUnhookWindowsHookEx));
}

// Serves every window of this thread for `ms` milliseconds, as a dialog's modal loop does.
void ServeFor(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

// The suite's plug-in files end in ".mkp"; a dropped one is "installed".
bool IsPluginFile(const char* path) {
    int n = lstrlenA(path);
    return n > 4 && lstrcmpiA(path + n - 4, ".mkp") == 0;
}

HMENU BuildSuiteMenu() {
    HMENU m = CreatePopupMenu();
    AppendMenuW(m, MF_STRING, 1000, L"メモリ情報(&M)");
    AppendMenuW(m, MF_STRING, 1001, L"メモリクリーン 1%(&C)");
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m, MF_STRING, 1002, L"設定(&S)...");
    return m;
}

DWORD WINAPI WaitPlugin(LPVOID param) {
    HANDLE process = param;
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    Out(Format("PLUGIN exit=%lu pid=%lu", code, GetProcessId(process)));
    CloseHandle(process);
    return 0;
}

void StartPlugin(HWND mascot, unsigned id) {
    auto it = g_switches.find(id);
    if (g_plugin.empty() || it == g_switches.end())
        return;
    // The plug-in skips the first two characters; the handle follows, then the switch.
    std::string args = Format("MK%lld ", H(mascot)) + it->second;
    std::string cmd = "\"" + g_plugin + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(g_plugin.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi)) {
        Out(Format("PLUGIN failed error=%lu", GetLastError()));
        return;
    }
    CloseHandle(pi.hThread);
    Out(Format("PLUGIN pid=%lu args=%s", pi.dwProcessId, args.c_str()));
    HANDLE t = CreateThread(nullptr, 0, WaitPlugin, pi.hProcess, 0, nullptr);
    if (t)
        CloseHandle(t);
}

LRESULT CALLBACK ControllerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case MK_WM_COMMAND:
            Out(Format("WM_USER+0 wParam=%lld lParam=%lld",
                       static_cast<long long>(static_cast<LONG_PTR>(wp)),
                       static_cast<long long>(lp)));
            StartPlugin(reinterpret_cast<HWND>(wp), static_cast<unsigned>(lp));
            return 0;
        case MK_WM_REFRESH:
            Out("WM_USER+1");
            return 0;
        case MK_WM_GETMENU: {
            // Tells whether the library destroyed the menu it held before asking again.
            int previousAlive = g_lastMenu && IsMenu(g_lastMenu) ? 1 : 0;
            HMENU m = BuildSuiteMenu();
            g_lastMenu = m;
            Out(Format("WM_USER+2 menu=%lld previous_alive=%d", H(m), previousAlive));
            return reinterpret_cast<LRESULT>(m);
        }
        case MK_WM_GETPOPUP: {
            HMENU m = g_nullPopup ? nullptr : g_popup;
            Out(Format("WM_USER+3 menu=%lld", H(m)));
            return reinterpret_cast<LRESULT>(m);
        }
        case MK_WM_DROPFILE: {
            char title[1024] = "";
            if (g_stallAfterTitleMs) {
                DWORD ms = g_stallAfterTitleMs;
                if (g_stallOnce)
                    g_stallAfterTitleMs = 0;
                GetWindowTextA(hwnd, title, sizeof title);
                Out(Format("STALL ms=%lu title=", ms) + SjisToUtf8(title));
                Sleep(ms);
                Out("SERVING");
            }
            GetWindowTextA(hwnd, title, sizeof title);
            Out(Format("WM_USER+4 wParam=%lld title=",
                       static_cast<long long>(static_cast<LONG_PTR>(wp))) +
                SjisToUtf8(title));
            if (g_holdDropMs) {
                DWORD ms = g_holdDropMs;
                if (g_holdOnce)
                    g_holdDropMs = 0;
                Out(Format("HOLD ms=%lu", ms));
                ServeFor(ms);
                Out("RELEASED");
            }
            if (g_titleBack == TitleBack::Now)
                SetWindowTextA(hwnd, MK_CONTROLLER_TITLE);
            else if (g_titleBack == TitleBack::Post)
                PostMessageA(hwnd, WM_MK_TITLE_BACK, 0, 0);
            if (g_speakOnDrop) {
                // The mascot's thread is the one that sent this drop's news: it must still
                // take the request.
                static const char kScript[] =
                    "SEND SSTP/1.4\r\nSender: mkctl\r\nScript: \\h\\s0drop\\e\r\nCharset: "
                    "Shift_JIS";
                COPYDATASTRUCT cds = {MK_SSTP_COPYDATA_ID, sizeof kScript - 1,
                                      const_cast<char*>(kScript)};
                LRESULT r =
                    SendMessageA(reinterpret_cast<HWND>(wp), WM_COPYDATA,
                                 reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cds));
                Out(Format("SPOKE result=%lld", static_cast<long long>(r)));
            }
            // What a controller does with the path: open the file by the title's bytes.
            HANDLE file = CreateFileA(title, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
            Out(Format("DROPFILE opens=%d", file != INVALID_HANDLE_VALUE ? 1 : 0));
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            if (IsPluginFile(title) && g_lib.MKShowMKIOK) {
                // Taken as one of the suite's plug-in files: the mascot says so shortly.
                Out("INSTALL " + SjisToUtf8(title));
                Out(Format("MKShowMKIOK result=%d", g_lib.MKShowMKIOK(reinterpret_cast<HWND>(wp))));
            }
            return 0;
        }
        case WM_MK_TITLE_BACK:
            SetWindowTextA(hwnd, MK_CONTROLLER_TITLE);
            return 0;
        case WM_COPYDATA:
            LogCopyData(hwnd, wp, reinterpret_cast<const COPYDATASTRUCT*>(lp));
            return TRUE;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

template <typename Fn>
Fn Export(const char* name) {
    // Through void(*)(): FARPROC's own type does not match, and GCC says so.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(g_lib.module, name)));
}

HWND CreateControllerWindow() {
    return CreateWindowExA(0, "MkCtlController", MK_CONTROLLER_TITLE, WS_OVERLAPPED, 0, 0, 0, 0,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

void CallHookExit() {
    g_exited = true;
    DWORD start = GetTickCount();
    int r = g_lib.HookExit();
    Out(Format("HookExit result=%d threads=%d ms=%lu terminated=%ld", r,
               CountThreadsStartedIn(g_lib.module), GetTickCount() - start, g_terminated));
}

void CallHookStart(DWORD thread) {
    if (!g_lib.HookStart)
        return;
    HHOOK h = g_lib.HookStart(thread, 0);
    Out(Format("HookStart result=%lld", H(h)));
}

bool Unload() {
    if (!g_lib.module)
        return false;
    if (!g_exited)
        CallHookExit();
    FreeLibrary(g_lib.module);
    g_lib = Library();
    Out(Format("UNLOADED menu_alive=%d", g_lastMenu && IsMenu(g_lastMenu) ? 1 : 0));
    return true;
}

void RunCommand(std::string line) {
    std::string cmd = NextWord(line);
    if (cmd.empty())
        return;
    if (!g_lib.module && cmd != "echo" && cmd != "exit") {
        Out("ERROR library not loaded");
        return;
    }
    if (cmd == "echo") {
        Out("ECHO " + line.substr(line.empty() ? 0 : 1));
    } else if (cmd == "start") {
        std::string id = NextWord(line);
        CallHookStart(id.empty() ? 0 : strtoul(id.c_str(), nullptr, 0));
    } else if (cmd == "exit") {
        Unload();
        PostQuitMessage(0);
    } else if (cmd == "hookexit") {
        const DWORD delay = strtoul(NextWord(line).c_str(), nullptr, 10);
        if (delay)
            Sleep(delay);  // serving nothing, as a controller busy elsewhere
        CallHookExit();
    } else if (cmd == "refresh") {
        Out(Format("MKRefresh result=%d", g_lib.MKRefresh()));
    } else if (cmd == "inrefresh") {
        Out(Format("InMKRefresh result=%d", g_lib.InMKRefresh()));
    } else if (cmd == "getversion") {
        Out(Format("MKGetVersion result=%d", g_lib.MKGetVersion()));
    } else if (cmd == "showversion") {
        const bool thenExit = NextWord(line) == "hookexit";
        const DWORD delay = strtoul(NextWord(line).c_str(), nullptr, 10);
        int r = g_lib.MKShowVersion();
        if (thenExit) {
            if (delay)
                Sleep(delay);
            CallHookExit();  // nothing else between the two calls
        }
        Out(Format("MKShowVersion result=%d", r));
    } else if (cmd == "mkiok") {
        std::string target = NextWord(line);
        HWND h = target == "sink" ? g_commands
                                  : reinterpret_cast<HWND>(
                                        static_cast<LONG_PTR>(strtoll(target.c_str(), nullptr, 0)));
        Out(Format("MKShowMKIOK result=%d", g_lib.MKShowMKIOK(h)));
    } else if (cmd == "threads") {
        Out(Format("THREADS n=%d", CountThreadsStartedIn(g_lib.module)));
    } else if (cmd == "hooks") {
        Out(Format("HOOKS live=%ld", g_hooksLive));
    } else if (cmd == "mutex") {
        HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, MK_MUTEX_NAME);
        Out(Format("MUTEX exists=%d", m ? 1 : 0));
        if (m)
            CloseHandle(m);
    } else if (cmd == "title") {
        char title[1024] = "";
        if (g_controller)
            GetWindowTextA(g_controller, title, sizeof title);
        Out("TITLE " + SjisToUtf8(title));
    } else if (cmd == "hang") {
        // A controller that stops serving its windows for a while, as one that deadlocks.
        DWORD ms = strtoul(NextWord(line).c_str(), nullptr, 10);
        Out(Format("HANG ms=%lu", ms));
        Sleep(ms);
        Out("RESUMED");
    } else if (cmd == "stallaftertitle") {
        g_stallAfterTitleMs = strtoul(NextWord(line).c_str(), nullptr, 10);
        g_stallOnce = NextWord(line) == "once";
        Out(Format("STALLAFTERTITLE ms=%lu once=%d", g_stallAfterTitleMs, g_stallOnce ? 1 : 0));
    } else if (cmd == "holddrop") {
        g_holdDropMs = strtoul(NextWord(line).c_str(), nullptr, 10);
        g_holdOnce = NextWord(line) == "once";
        Out(Format("HOLDDROP ms=%lu once=%d", g_holdDropMs, g_holdOnce ? 1 : 0));
    } else if (cmd == "slowsink") {
        g_slowSinkMs = strtoul(NextWord(line).c_str(), nullptr, 10);
        Out(Format("SLOWSINK ms=%lu", g_slowSinkMs));
    } else if (cmd == "titleback") {
        std::string how = NextWord(line);
        if (how == "now" || how == "post" || how == "never") {
            g_titleBack = how == "now"    ? TitleBack::Now
                          : how == "post" ? TitleBack::Post
                                          : TitleBack::Never;
            Out("TITLEBACK " + how);
        } else {
            Out("ERROR titleback takes now, post or never");
        }
    } else if (cmd == "refusehook") {
        std::string type = NextWord(line);
        g_refusedHook = type == "callwndproc"  ? WH_CALLWNDPROC
                        : type == "getmessage" ? WH_GETMESSAGE
                                               : -1;
        Out("REFUSEHOOK " + (g_refusedHook == -1 ? std::string("none") : type));
    } else if (cmd == "speakondrop") {
        g_speakOnDrop = NextWord(line) == "1";
        Out(Format("SPEAKONDROP %d", g_speakOnDrop ? 1 : 0));
    } else if (cmd == "destroywindow") {
        if (g_controller)
            DestroyWindow(g_controller);
        g_controller = nullptr;
        Out("WINDOW destroyed");
    } else if (cmd == "createwindow") {
        if (!g_controller)
            g_controller = CreateControllerWindow();
        Out(Format("WINDOW hwnd=%lld", H(g_controller)));
    } else {
        Out("ERROR unknown command " + cmd);
    }
}

LRESULT CALLBACK CommandProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_MK_STDIN_LINE:
            RunCommand(TakeCommand(lp));
            return 0;
        case WM_MK_STDIN_EOF:
            Unload();
            PostQuitMessage(0);
            return 0;
        case WM_COPYDATA:
            if (g_slowSinkMs) {
                // Busy before it reads the request: the sender's limit may pass meanwhile.
                Out(Format("SINK busy ms=%lu", g_slowSinkMs));
                Sleep(g_slowSinkMs);
            }
            LogCopyData(hwnd, wp, reinterpret_cast<const COPYDATASTRUCT*>(lp));
            return TRUE;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

std::string DefaultDllPath() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1) + "mkhook.dll";
}

}  // namespace

int main(int argc, char** argv) {
    std::string dll = DefaultDllPath();
    bool window = true, start = true;
    DWORD thread = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dll" && i + 1 < argc)
            dll = argv[++i];
        else if (a == "--plugin" && i + 1 < argc)
            g_plugin = argv[++i];
        else if (a == "--no-window")
            window = false;
        else if (a == "--no-start")
            start = false;
        else if (a == "--null-popup")
            g_nullPopup = true;
        else if (a == "--thread" && i + 1 < argc)
            thread = strtoul(argv[++i], nullptr, 0);
        else if (a == "--refuse-hook" && i + 1 < argc) {
            std::string type = argv[++i];
            if (type == "callwndproc")
                g_refusedHook = WH_CALLWNDPROC;
            else if (type == "getmessage")
                g_refusedHook = WH_GETMESSAGE;
            else {
                Out("ERROR unknown hook type " + type);
                return 2;
            }
        } else {
            Out("ERROR unknown option " + a);
            return 2;
        }
    }

    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ControllerProc;
    wc.hInstance = inst;
    wc.lpszClassName = "MkCtlController";
    RegisterClassA(&wc);
    wc.lpfnWndProc = CommandProc;
    wc.lpszClassName = "MkCtlCommands";
    RegisterClassA(&wc);

    g_popup = BuildSuiteMenu();
    g_commands = CreateWindowExA(0, "MkCtlCommands", "mkctl", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                 nullptr, inst, nullptr);
    if (window)
        g_controller = CreateControllerWindow();
    if (!g_commands || (window && !g_controller)) {
        Out(Format("ERROR cannot create the controller's windows error=%lu", GetLastError()));
        return 1;
    }

    g_lib.module = LoadLibraryA(dll.c_str());
    if (!g_lib.module) {
        Out(Format("ERROR cannot load %s error=%lu", dll.c_str(), GetLastError()));
        return 1;
    }
    if (!WatchTheLibrary(g_lib.module))
        Out("ERROR cannot watch the library's imports");
    g_lib.HookStart = Export<HookStartFn>("HookStart");
    g_lib.HookExit = Export<NoArgFn>("HookExit");
    g_lib.MKRefresh = Export<NoArgFn>("MKRefresh");
    g_lib.InMKRefresh = Export<NoArgFn>("InMKRefresh");
    g_lib.MKGetVersion = Export<NoArgFn>("MKGetVersion");
    g_lib.MKShowVersion = Export<NoArgFn>("MKShowVersion");
    g_lib.MKShowMKIOK = Export<ShowMKIOKFn>("MKShowMKIOK");
    if (!g_lib.HookStart || !g_lib.HookExit || !g_lib.MKRefresh || !g_lib.InMKRefresh ||
        !g_lib.MKGetVersion || !g_lib.MKShowVersion || !g_lib.MKShowMKIOK) {
        Out("ERROR missing export");
        return 1;
    }
    if (start)
        CallHookStart(thread);
    Out(Format("READY hwnd=%lld pid=%lu sink=%lld", H(g_controller), GetCurrentProcessId(),
               H(g_commands)));
    StartStdinReader(g_commands);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    Out("BYE");
    return 0;
}
