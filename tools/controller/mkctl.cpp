// Controller stand-in: behaves towards mkhook.dll as the suite's controller does. It owns
// the window titled "MK_GETMSG_WND", loads the library, starts the hooks, answers the menu
// requests, prints one line for every message it receives, and calls the exports when told
// to on its standard input. With --plugin it starts the plug-in for the suite's commands.
//
// Usage: mkctl [--dll PATH] [--plugin PATH] [--no-window] [--no-start] [--thread ID]
//              [--null-popup]
// Commands (one per line): start [ID] | exit | hookexit | refresh | inrefresh | getversion |
//   showversion | mkiok HWND|sink | threads | mutex | title | destroywindow | createwindow |
//   hang MS | stallaftertitle MS [once] | speakondrop 0|1 | echo TEXT
//
// `stallaftertitle` makes the controller stop serving its windows for MS milliseconds right
// after it took a dropped file's path as its title, before the WM_USER+4 that follows (a long
// job, as a real controller may start one); with `once`, only after the next such title.
// Under Wine the title arrives as WM_SETTEXT, which is where the stall happens (on Windows,
// setting another process's window title sends no message). `speakondrop 1` has the mascot
// speak (an SSTP request to the drop's mascot window) while WM_USER+4 is being handled.
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
bool g_speakOnDrop;
std::string g_plugin;
std::map<unsigned, std::string> g_switches = {
    {1000, "/MEMSTATUS"}, {1001, "/1"}, {1002, "/SETTING"}};

// Handles as signed decimal at the width of a pointer (long has 32 bits on 64-bit Windows).
long long H(const void* h) {
    return static_cast<long long>(reinterpret_cast<LONG_PTR>(h));
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
        case WM_SETTEXT: {
            LRESULT r = DefWindowProcA(hwnd, msg, wp, lp);
            const char* text = reinterpret_cast<const char*>(lp);
            if (g_stallAfterTitleMs && text && lstrcmpA(text, MK_CONTROLLER_TITLE) != 0) {
                DWORD ms = g_stallAfterTitleMs;
                if (g_stallOnce)
                    g_stallAfterTitleMs = 0;
                Out(Format("STALL ms=%lu title=", ms) + SjisToUtf8(text));
                Sleep(ms);
                Out("SERVING");
            }
            return r;
        }
        case MK_WM_DROPFILE: {
            char title[1024] = "";
            GetWindowTextA(hwnd, title, sizeof title);
            Out(Format("WM_USER+4 wParam=%lld title=",
                       static_cast<long long>(static_cast<LONG_PTR>(wp))) +
                SjisToUtf8(title));
            SetWindowTextA(hwnd, MK_CONTROLLER_TITLE);
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

void CallHookStart(DWORD thread) {
    if (!g_lib.HookStart)
        return;
    HHOOK h = g_lib.HookStart(thread, 0);
    Out(Format("HookStart result=%lld", H(h)));
}

bool Unload() {
    if (!g_lib.module)
        return false;
    if (!g_exited) {
        DWORD start = GetTickCount();
        int r = g_lib.HookExit();
        Out(Format("HookExit result=%d threads=%d ms=%lu", r, CountThreadsStartedIn(g_lib.module),
                   GetTickCount() - start));
    }
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
        g_exited = true;
        DWORD start = GetTickCount();
        int r = g_lib.HookExit();
        Out(Format("HookExit result=%d threads=%d ms=%lu", r, CountThreadsStartedIn(g_lib.module),
                   GetTickCount() - start));
    } else if (cmd == "refresh") {
        Out(Format("MKRefresh result=%d", g_lib.MKRefresh()));
    } else if (cmd == "inrefresh") {
        Out(Format("InMKRefresh result=%d", g_lib.InMKRefresh()));
    } else if (cmd == "getversion") {
        Out(Format("MKGetVersion result=%d", g_lib.MKGetVersion()));
    } else if (cmd == "showversion") {
        Out(Format("MKShowVersion result=%d", g_lib.MKShowVersion()));
    } else if (cmd == "mkiok") {
        std::string target = NextWord(line);
        HWND h = target == "sink" ? g_commands
                                  : reinterpret_cast<HWND>(
                                        static_cast<LONG_PTR>(strtoll(target.c_str(), nullptr, 0)));
        Out(Format("MKShowMKIOK result=%d", g_lib.MKShowMKIOK(h)));
    } else if (cmd == "threads") {
        Out(Format("THREADS n=%d", CountThreadsStartedIn(g_lib.module)));
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
        else {
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

    g_lib.module = LoadLibraryA(dll.c_str());
    if (!g_lib.module) {
        Out(Format("ERROR cannot load %s error=%lu", dll.c_str(), GetLastError()));
        return 1;
    }
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
