// Cost of the messages mkhook handles, against the least hook that does the same job
// (mkbench_least.dll; see least.cpp), measured side by side in one run:
//   menu      in a process named ssp.exe, a "Tmainform" window's context menu opening
//             (WM_INITMENU: the pop-up asked of the controller and inserted) and closing (the
//             close notification: the item removed again), timed separately
//   command   in a process named sakura.exe, WM_COMMAND 1000 posted to its "TPUtilWindow" and
//             retrieved, until the controller has received WM_USER+0
//   drop      the same process, WM_DROPFILES posted to its "Tmainform" and retrieved, until the
//             controller has handled WM_USER+4
// For the last two the host lists 100 windows in "Sakura", its own last. The controller is a
// process of its own that answers at once. Each host process hooks its own thread with one
// library at a time, in short rounds that alternate the order; a ratio is the median of the
// rounds' ratios. For the drop it also prints the least hook that sends the title and
// WM_USER+4 from the host's thread itself, as drops were sent before they had to survive a
// slow controller: what the worker thread costs.
//
//   host_bench [rounds] [messages per measurement]   (default 21 rounds of 50)
//   host_bench --controller                           the controller, as the benchmark starts it
//   ssp.exe|sakura.exe --host <bin dir> <rounds> <n>  a host, as the benchmark starts it
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_hooks.h"
#include "mirekko/mkhook.h"
#include "arch.h"

using namespace mk::bench;

namespace {

const char kAckEvent[] = "MkHostBenchAck";

// ---- the controller ----------------------------------------------------------------------

HMENU g_popup;
HANDLE g_ack;

LRESULT CALLBACK ControllerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case MK_WM_GETMENU:
            return reinterpret_cast<LRESULT>(CreatePopupMenu());
        case MK_WM_GETPOPUP:
            // mkhook's HookExit destroys the last menu it was handed, in whichever process
            // the hooks ran: this benchmark's host is also its controller-side caller.
            if (!IsMenu(g_popup)) {
                g_popup = CreatePopupMenu();
                AppendMenuA(g_popup, MF_STRING, 1000, "Memory");
            }
            return reinterpret_cast<LRESULT>(g_popup);
        case MK_WM_COMMAND:
            SetEvent(g_ack);
            return 0;
        case MK_WM_DROPFILE:
            SetWindowTextA(hwnd, MK_CONTROLLER_TITLE);
            SetEvent(g_ack);
            return 0;
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

int RunController() {
    g_ack = CreateEventA(nullptr, FALSE, FALSE, kAckEvent);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ControllerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MkBenchController";
    RegisterClassA(&wc);
    CreateWindowExA(0, wc.lpszClassName, MK_CONTROLLER_TITLE, WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                    nullptr, wc.hInstance, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}

// ---- a host ------------------------------------------------------------------------------

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DROPFILES) {
        DragFinish(reinterpret_cast<HDROP>(wp));
        return 0;
    }
    if (msg == WM_COMMAND || msg == WM_INITMENU || msg == WM_MENUSELECT)
        return 0;
    return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND g_main, g_util;
HMENU g_menu;
HANDLE g_hostAck;
const char kDropPath[] = "C:\\mirekko\\plugin.mkp";

HGLOBAL MakeDrop() {
    static const wchar_t path[] = L"C:\\mirekko\\plugin.mkp\0";
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + sizeof path);
    auto* df = static_cast<DROPFILES*>(GlobalLock(h));
    df->pFiles = sizeof(DROPFILES);
    df->fWide = TRUE;
    CopyMemory(df + 1, path, sizeof path);
    GlobalUnlock(h);
    return h;
}

// Microseconds per operation of each measured kind, for one library and one round.
struct Times {
    double open = 0, close = 0, command = 0, drop = 0;
};

Times Measure(bool ssp, int n) {
    Times t;
    if (ssp) {
        for (int i = 0; i < n; ++i) {
            double t0 = Now();
            SendMessageA(g_main, WM_INITMENU, reinterpret_cast<WPARAM>(g_menu), 0);
            double t1 = Now();
            SendMessageA(g_main, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
            double t2 = Now();
            t.open += t1 - t0;
            t.close += t2 - t1;
        }
        t.open *= 1e6 / n;
        t.close *= 1e6 / n;
        return t;
    }
    for (int i = 0; i < n; ++i) {
        double t0 = Now();
        PostMessageA(g_util, WM_COMMAND, 1000, 0);
        Pump();
        WaitForSingleObject(g_hostAck, 5000);
        t.command += Now() - t0;
        HGLOBAL drop = MakeDrop();
        t0 = Now();
        PostMessageA(g_main, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
        Pump();
        WaitForSingleObject(g_hostAck, 5000);
        t.drop += Now() - t0;
    }
    t.command *= 1e6 / n;
    t.drop *= 1e6 / n;
    return t;
}

// "Sakura" as the host publishes it: 99 windows of another process, then its own.
HANDLE PublishSakura(HWND other, HWND own) {
    std::string text("\0\0\0\0", 4);
    for (int i = 1; i <= 100; ++i) {
        long long h = static_cast<long long>(reinterpret_cast<LONG_PTR>(i < 100 ? other : own));
        text += std::to_string(i) + ".hwnd\x01" + std::to_string(h) + "\r\n";
    }
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536,
                                        MK_HOST_SHARED_MEMORY);
    if (void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0) : nullptr) {
        CopyMemory(view, text.data(), text.size());
        UnmapViewOfFile(view);
    }
    return mapping;
}

int RunHost(const std::string& bin, int rounds, int n) {
    char image[MAX_PATH];
    GetModuleFileNameA(nullptr, image, MAX_PATH);
    const bool ssp = std::string(image).find("ssp.exe") != std::string::npos;
    g_hostAck = OpenEventA(SYNCHRONIZE, FALSE, kAckEvent);
    HWND controller = FindWindowA(nullptr, MK_CONTROLLER_TITLE);
    if (!g_hostAck || !controller) {
        fprintf(stderr, "host_bench: no controller\n");
        return 1;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = MK_HOST_MAIN_CLASS;
    RegisterClassA(&wc);
    wc.lpszClassName = MK_HOST_MENU_CLASS;
    RegisterClassA(&wc);
    g_main = CreateWindowExA(WS_EX_ACCEPTFILES, MK_HOST_MAIN_CLASS, "", WS_POPUP, 0, 0, 10, 10,
                             nullptr, nullptr, wc.hInstance, nullptr);
    g_util = CreateWindowExA(0, MK_HOST_MENU_CLASS, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             wc.hInstance, nullptr);
    HANDLE sakura = ssp ? nullptr : PublishSakura(controller, g_main);
    // "ヘッドライン(&H)", then seven items of the host's own.
    g_menu = CreatePopupMenu();
    AppendMenuA(g_menu, MF_STRING, 100, "\x83\x77\x83\x62\x83\x68\x83\x89\x83\x43\x83\x93(&H)");
    for (int i = 1; i < 8; ++i)
        AppendMenuA(g_menu, MF_STRING, 100 + i, "item");

    const int kinds = ssp ? 2 : 3;
    Library libs[3];
    const char* names[3] = {"mkhook.dll", "mkbench_least.dll", "mkbench_least_sync.dll"};
    for (int k = 0; k < kinds; ++k) {
        if (!libs[k].Load(names[k], (bin + "\\" + names[k]).c_str())) {
            fprintf(stderr, "host_bench: cannot load %s\n", names[k]);
            return 1;
        }
    }

    std::vector<Times> times[3];
    std::vector<double> ratios[4];   // open, close, command, drop: mkhook / least
    std::vector<double> syncRatios;  // least with its worker / least sending from the host
    const DWORD thread = GetCurrentThreadId();
    for (int r = 0; r < rounds + 1; ++r) {
        Times round[3];
        for (int k = 0; k < kinds; ++k) {
            int index = (k + r) % kinds;
            Library& lib = libs[index];
            lib.start(thread, 0);
            Pump();
            round[index] = Measure(ssp, n);
            lib.exit();
            Pump();
        }
        if (r == 0)
            continue;  // warm-up round: the library reads this process's image here
        for (int k = 0; k < kinds; ++k)
            times[k].push_back(round[k]);
        if (ssp) {
            ratios[0].push_back(round[0].open / round[1].open);
            ratios[1].push_back(round[0].close / round[1].close);
        } else {
            ratios[2].push_back(round[0].command / round[1].command);
            ratios[3].push_back(round[0].drop / round[1].drop);
            syncRatios.push_back(round[1].drop / round[2].drop);
        }
    }

    auto column = [&](int k, double Times::*field) {
        std::vector<double> v;
        for (const Times& t : times[k])
            v.push_back(t.*field);
        return Median(v);
    };
    bool within = true;
    auto row = [&](const char* name, double Times::*field, int ratio) {
        double r = Median(ratios[ratio]);
        within = within && r <= 1.2;
        printf("%-40s %10.0f %10.0f %8.3f %7s\n", name, column(0, field), column(1, field), r,
               MK_BENCH_ARCH);
    };
    if (ssp) {
        row("ssp.exe menu opening (WM_INITMENU)", &Times::open, 0);
        row("ssp.exe menu closing (close notification)", &Times::close, 1);
    } else {
        row("sakura.exe command, 100 listed windows", &Times::command, 2);
        row("sakura.exe drop, 100 listed windows", &Times::drop, 3);
        printf(
            "  (the least hook's drop from a worker thread / from the host's thread: %.0f / "
            "%.0f us, %.3f, %s)\n",
            column(1, &Times::drop), column(2, &Times::drop), Median(syncRatios), MK_BENCH_ARCH);
    }
    printf("%s target: ratio 1.2 or less -> %s\n", ssp ? "menu" : "command and drop",
           within ? "met" : "NOT met");
    fflush(stdout);
    if (sakura)
        CloseHandle(sakura);
    return 0;
}

// ---- the benchmark -----------------------------------------------------------------------

std::string BinDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/"));
}

bool Run(const std::string& exe, const std::string& args) {
    std::string cmd = "\"" + exe + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    return code == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--controller")
        return RunController();
    if (argc > 4 && std::string(argv[1]) == "--host")
        return RunHost(argv[2], atoi(argv[3]), atoi(argv[4]));
    int rounds = argc > 1 ? atoi(argv[1]) : 21;
    int n = argc > 2 ? atoi(argv[2]) : 50;
    if (rounds < 1 || n < 1) {
        fprintf(stderr, "usage: host_bench [rounds] [messages]\n");
        return 2;
    }
    const std::string bin = BinDir();
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);

    // The controller, in a process of its own; it is ready once its window can be found.
    std::string cmd = std::string("\"") + self + "\" --controller";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION controller = {};
    if (!CreateProcessA(self, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &controller)) {
        fprintf(stderr, "host_bench: cannot start the controller\n");
        return 1;
    }
    HWND window = nullptr;
    for (int i = 0; i < 500 && !window; ++i) {
        Sleep(10);
        window = FindWindowA(nullptr, MK_CONTROLLER_TITLE);
    }

    // The hosts are copies of this program under the names the library recognises.
    const std::string dir = bin + "\\host-bench";
    CreateDirectoryA(dir.c_str(), nullptr);
    printf(
        "host_bench: %d rounds of %d messages; us per message (medians) and the median of the\n"
        "rounds' ratios mkhook / least hook for the job\n",
        rounds, n);
    printf("%-40s %10s %10s %8s %7s\n", "workload", "mkhook", "least", "ratio", "build");
    fflush(stdout);
    bool ok = window != nullptr;
    for (const char* name : {"ssp.exe", "sakura.exe"}) {
        const std::string exe = dir + "\\" + name;
        ok = ok && CopyFileA(self, exe.c_str(), FALSE) &&
             Run(exe, "--host \"" + bin + "\" " + std::to_string(rounds) + " " + std::to_string(n));
        DeleteFileA(exe.c_str());
    }
    RemoveDirectoryA(dir.c_str());
    if (window)
        PostMessageA(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(controller.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(controller.hProcess, 1);
    CloseHandle(controller.hProcess);
    CloseHandle(controller.hThread);
    if (!ok)
        fprintf(stderr, "host_bench: a host did not run\n");
    return ok ? 0 : 1;
}
