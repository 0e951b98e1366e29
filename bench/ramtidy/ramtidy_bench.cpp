// Benchmark of what a user of ramtidy waits for, each variant in a process of its own:
//  - a cleaning run with its status window shown, the same run hidden, and a bare program that
//    creates one hidden window (so that it pays the same GUI start-up under Wine) and makes the
//    same claims and releases, then sends one WM_COPYDATA; timed from the start of the process
//    to its exit;
//  - "/MEMSTATUS" against a minimal program that creates a window and sends the same kind of
//    SSTP request in one WM_COPYDATA; timed from the start to the arrival of the request.
// The variants take turns, each round in another order; a ratio is the median of the ratios of
// the rounds, so that the machine's slow and fast moments weigh on both sides alike.
//
// Under Xvfb, which has no window manager, Wine waits two seconds for the withdrawal of every
// managed window it hides; that is the test rig's cost, not the program's. The benchmark
// therefore turns Wine's window management off in its prefix while it runs (X11 Driver,
// Managed = N) and restores the setting afterwards.
//
//   ramtidy_bench [rounds] [megabytes]   (default 21 rounds of 1000 MB; at least 256 MB)
//   ramtidy_bench --bare <steps> <hwnd>  the bare cleaning program, as the benchmark starts it
//   ramtidy_bench --minimal <hwnd>       the minimal reporting program
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mirekko/protocol.h"
#include "arch.h"

namespace {

const wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Orbel\\Memory Cleaner";
const wchar_t kX11DriverKey[] = L"Software\\Wine\\X11 Driver";

LRESULT CALLBACK QuietProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(h, msg, wp, lp);
}

// The one hidden window that a GUI program has at least.
HWND CreateHiddenWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = QuietProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RamtidyBenchWindow";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT,
                           100, 100, nullptr, nullptr, wc.hInstance, nullptr);
}

void SendRequest(HWND mascot, HWND sender, const std::string& request) {
    COPYDATASTRUCT data = {MK_SSTP_COPYDATA_ID, static_cast<DWORD>(request.size()),
                           const_cast<char*>(request.data())};
    SendMessageA(mascot, WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                 reinterpret_cast<LPARAM>(&data));
}

// What ramtidy's cleaning run does, without label, bar or setting.
int BareLoop(int steps, HWND mascot) {
    HWND window = CreateHiddenWindow();
    std::vector<int32_t> table(1025u * 1025u);
    for (int i = 1; i <= steps; ++i)
        for (int j = 1; j <= 1024; ++j)
            table[i * 1025u + j] =
                static_cast<int32_t>(reinterpret_cast<intptr_t>(GlobalAlloc(GMEM_FIXED, 1024)));
    for (int i = 1; i <= steps; ++i)
        for (int j = 1; j <= 1024; ++j)
            GlobalFree(reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(table[i * 1025u + j])));
    SendRequest(mascot, window, "done");
    DestroyWindow(window);
    return 0;
}

// A window and one SSTP request of the size and shape of ramtidy's memory report.
int MinimalReport(HWND mascot) {
    HWND window = CreateHiddenWindow();
    MEMORYSTATUSEX ms = {};
    ms.dwLength = sizeof ms;
    GlobalMemoryStatusEx(&ms);
    std::wstring script = L"メモリ情報だよ。\\n\\n搭載メモリ：" +
                          std::to_wstring(ms.ullTotalPhys >> 20) + L"MB\\n空きメモリ：" +
                          std::to_wstring(ms.ullAvailPhys >> 20) +
                          L"MB\\n空き率：50％\\n\\nまぁ、こんなもんか。\\e";
    std::wstring request =
        L"" MK_SSTP_PLUGIN_REQUEST_LINE "\r\nSender: " MK_SSTP_SENDER "\r\nScript: " + script +
        L"\r\nHWnd: " +
        std::to_wstring(static_cast<long long>(reinterpret_cast<intptr_t>(window))) +
        L"\r\nCharset: " MK_SSTP_CHARSET "\r\n";
    int n = WideCharToMultiByte(932, 0, request.data(), static_cast<int>(request.size()), nullptr,
                                0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(932, 0, request.data(), static_cast<int>(request.size()), &bytes[0], n,
                        nullptr, nullptr);
    SendRequest(mascot, window, bytes);
    DestroyWindow(window);
    return 0;
}

LARGE_INTEGER g_reported;  // when the last request arrived

// The mascot window the programs report to; it only accepts the requests.
LRESULT CALLBACK SinkProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA) {
        QueryPerformanceCounter(&g_reported);
        return TRUE;
    }
    return DefWindowProcW(h, msg, wp, lp);
}

DWORD WINAPI SinkThread(LPVOID param) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = SinkProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RamtidyBenchSink";
    RegisterClassW(&wc);
    *static_cast<HWND*>(param) = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 1,
                                                 1, nullptr, nullptr, wc.hInstance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

std::wstring Directory() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

struct Timing {
    double to_report = -1;  // ms from the start to the arrival of the request; -1: none came
    double to_exit = -1;    // ms from the start to the end of the process
    DWORD exit_code = 0;
    bool ok() const { return to_report >= 0 && to_exit >= 0 && exit_code == 0; }
};

Timing TimeRun(const std::wstring& exe, const std::wstring& args) {
    Timing t;
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    std::vector<wchar_t> buf(cmd.begin(), cmd.end());
    buf.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Under Wine a process counts as ended before the system has finished taking back its
    // memory; give the previous run's teardown time so that it is not charged to this one.
    Sleep(700);
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    g_reported.QuadPart = 0;
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(exe.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return t;
    WaitForSingleObject(pi.hProcess, INFINITE);
    QueryPerformanceCounter(&t1);
    GetExitCodeProcess(pi.hProcess, &t.exit_code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    t.to_exit = (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart;
    if (g_reported.QuadPart != 0)
        t.to_report = (g_reported.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart;
    return t;
}

// A string value under HKCU, kept to be put back as it was.
struct SavedValue {
    std::wstring key, name;
    bool present = false;
    std::wstring text;
};

SavedValue ReadValue(const wchar_t* key_name, const wchar_t* name) {
    SavedValue s{key_name, name, false, L""};
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return s;
    wchar_t buf[64] = {};
    DWORD bytes = sizeof buf - sizeof(wchar_t);
    s.present = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf),
                                 &bytes) == ERROR_SUCCESS;
    s.text = buf;
    RegCloseKey(key);
    return s;
}

void WriteValue(const wchar_t* key_name, const wchar_t* name, const std::wstring& text) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_name, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void RestoreValue(const SavedValue& s) {
    if (s.present) {
        WriteValue(s.key.c_str(), s.name.c_str(), s.text);
        return;
    }
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, s.key.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, s.name.c_str());
        RegCloseKey(key);
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The median time of a variant and the median of its ratios to the base, round by round.
void PrintRatio(const char* name, const std::vector<double>& times, const std::vector<double>& base,
                const char* base_name, double target) {
    std::vector<double> ratios;
    for (size_t r = 0; r < times.size() && r < base.size(); ++r)
        ratios.push_back(times[r] / base[r]);
    double ratio = Median(ratios);
    std::printf("  %-12s %8.1f ms   %.3f x %s, %s build (target <= %.2f)%s\n", name, Median(times),
                ratio, base_name, MK_BENCH_ARCH, target, ratio <= target ? "" : "  MISSED");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--bare")
        return BareLoop(_wtoi(argv[2]),
                        reinterpret_cast<HWND>(static_cast<intptr_t>(_wtoi(argv[3]))));
    if (argc == 3 && std::wstring(argv[1]) == L"--minimal")
        return MinimalReport(reinterpret_cast<HWND>(static_cast<intptr_t>(_wtoi(argv[2]))));
    int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 21;
    // Large enough that the claiming, not process start-up, is what is compared; at most the
    // 1024 steps one run can make.
    const int steps = argc > 2 ? std::min(1024, std::max(256, _wtoi(argv[2]))) : 1000;

    // Timings under Wine are only steady on one CPU; the children inherit the mask.
    SetProcessAffinityMask(GetCurrentProcess(), 1);

    MEMORYSTATUSEX ms = {};
    ms.dwLength = sizeof ms;
    GlobalMemoryStatusEx(&ms);
    // ramtidy rounds installed memory to KB and E = T / 1024 * n / 100 to whole steps:
    // aim a quarter step above `steps` so that the run makes exactly that many.
    double total_kb = static_cast<double>(ms.ullTotalPhys / 1024);
    double percent = (steps + 0.25) * 1024 * 100 / total_kb;
    if (percent > 100) {
        std::printf("ramtidy bench: less than %d MB installed, nothing to measure\n", steps);
        return 1;
    }

    HWND sink = nullptr;
    HANDLE sink_thread = CreateThread(nullptr, 0, SinkThread, &sink, 0, nullptr);
    while (!sink)
        Sleep(1);
    std::wstring sink_handle =
        std::to_wstring(static_cast<long long>(reinterpret_cast<intptr_t>(sink)));

    wchar_t sw[64];
    swprintf(sw, 64, L"/%.6f", percent);
    std::wstring ramtidy = Directory() + L"ramtidy.exe";
    std::wstring self = Directory() + L"ramtidy_bench.exe";
    std::wstring run_args = L"MK" + sink_handle + L" " + sw;
    std::wstring bare_args = L"--bare " + std::to_wstring(steps) + L" " + sink_handle;

    SavedValue saved_show = ReadValue(kSettingsKey, L"ShowWnd");
    SavedValue saved_managed = ReadValue(kX11DriverKey, L"Managed");
    WriteValue(kX11DriverKey, L"Managed", L"N");

    std::vector<double> shown, hidden, bare, memstatus, minimal;
    bool failed = false;
    auto take = [&](std::vector<double>& into, const Timing& t, bool to_exit) {
        failed |= !t.ok();
        into.push_back(to_exit ? t.to_exit : t.to_report);
    };
    for (int r = 0; r < rounds && !failed; ++r) {
        for (int k = 0; k < 5; ++k) {
            switch ((r + k) % 5) {
                case 0:
                    WriteValue(kSettingsKey, L"ShowWnd", L"True");
                    take(shown, TimeRun(ramtidy, run_args), true);
                    break;
                case 1:
                    WriteValue(kSettingsKey, L"ShowWnd", L"False");
                    take(hidden, TimeRun(ramtidy, run_args), true);
                    break;
                case 2:
                    take(bare, TimeRun(self, bare_args), true);
                    break;
                case 3:
                    take(memstatus, TimeRun(ramtidy, L"MK" + sink_handle + L" /MEMSTATUS"), false);
                    break;
                default:
                    take(minimal, TimeRun(self, L"--minimal " + sink_handle), false);
                    break;
            }
        }
    }
    RestoreValue(saved_show);
    RestoreValue(saved_managed);
    PostMessageW(sink, WM_CLOSE, 0, 0);
    PostThreadMessageW(GetThreadId(sink_thread), WM_QUIT, 0, 0);
    WaitForSingleObject(sink_thread, 5000);
    if (failed) {
        std::printf("ramtidy bench: a run failed or sent no request\n");
        return 1;
    }

    std::printf("ramtidy bench: %d rounds\n", rounds);
    std::printf(" %d MB cleaning run (switch %ls), start to exit:\n", steps, sw);
    std::printf("  %-12s %8.1f ms\n", "bare", Median(bare));
    PrintRatio("hidden run", hidden, bare, "bare", 1.05);
    PrintRatio("shown run", shown, bare, "bare", 1.08);
    std::printf(" /MEMSTATUS, start to report:\n");
    std::printf("  %-12s %8.1f ms\n", "minimal", Median(minimal));
    PrintRatio("/MEMSTATUS", memstatus, minimal, "minimal", 1.2);
    std::fflush(stdout);
    return 0;
}
