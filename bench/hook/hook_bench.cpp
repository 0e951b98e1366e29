// Cost per message of a thread hooked by mkhook, against the same thread hooked by two hooks
// that only pass each message on (mkbench_passthru.dll). Both libraries hook this program's
// own thread in turn, in short rounds, so that whatever else the machine does weighs on both
// alike; each round gives a ratio per workload, and the median ratio is reported:
//   sent      SendMessage of a private message to a window of this program
//   posted    the same message posted, then taken from the queue and dispatched
//   command   WM_COMMAND with identifier 1000 posted to a window of another class: the
//             message mkhook looks at, on a window it must let pass
// Run pinned to one CPU (bench/run.sh); under Wine the figures are otherwise mostly
// scheduling latency.
//
//   hook_bench [rounds] [messages per measurement]   (default 101 rounds of 1000)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_hooks.h"
#include "mirekko/mkhook.h"
#include "arch.h"

using namespace mk::bench;

namespace {

// The exports as the library declares them; the pass-through library exports the same two.

const UINT kProbe = WM_APP + 7;
HWND g_plain;  // a window of a class no hook library cares about
HWND g_other;  // another such class, for WM_COMMAND

LRESULT CALLBACK BenchProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kProbe || msg == WM_COMMAND)
        return 0;
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// Nanoseconds per message.
double Sent(int n) {
    double t0 = Now();
    for (int i = 0; i < n; ++i)
        SendMessageA(g_plain, kProbe, i, 0);
    return (Now() - t0) * 1e9 / n;
}

double Posted(HWND hwnd, UINT message, WPARAM wParam, int n) {
    double t0 = Now();
    MSG msg;
    for (int i = 0; i < n; ++i) {
        PostMessageA(hwnd, message, wParam, 0);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return (Now() - t0) * 1e9 / n;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 101;
    int n = argc > 2 ? atoi(argv[2]) : 1000;
    if (rounds < 1 || n < 1) {
        fprintf(stderr, "usage: hook_bench [rounds] [messages]\n");
        return 2;
    }
    HINSTANCE inst = GetModuleHandleA(nullptr);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = BenchProc;
    wc.hInstance = inst;
    wc.lpszClassName = "BenchPlain";
    RegisterClassA(&wc);
    wc.lpszClassName = "BenchOther";
    RegisterClassA(&wc);
    g_plain =
        CreateWindowExA(0, "BenchPlain", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);
    g_other =
        CreateWindowExA(0, "BenchOther", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, inst, nullptr);

    Library libs[2];
    const char* names_of_libs[2] = {"mkhook.dll", "mkbench_passthru.dll"};
    for (int k = 0; k < 2; ++k) {
        if (!libs[k].Load(names_of_libs[k])) {
            fprintf(stderr, "hook_bench: cannot load %s\n", names_of_libs[k]);
            return 1;
        }
    }

    const char* names[3] = {"sent message", "posted message", "posted WM_COMMAND, other class"};
    std::vector<double> times[2][3];
    std::vector<double> ratios[3];
    DWORD thread = GetCurrentThreadId();
    for (int r = 0; r < rounds + 1; ++r) {
        for (int k = 0; k < 2; ++k) {
            // Alternate which library goes first, so that neither always follows the other.
            Library& lib = libs[(k + r) % 2];
            int index = static_cast<int>(&lib - libs);
            if (!lib.start(thread, 0)) {
                fprintf(stderr, "hook_bench: %s could not hook\n", lib.name);
                return 1;
            }
            Pump();
            double m[3] = {Sent(n), Posted(g_plain, kProbe, 0, n),
                           Posted(g_other, WM_COMMAND, 1000, n)};
            lib.exit();
            Pump();
            if (r == 0)
                continue;  // warm-up round
            for (int w = 0; w < 3; ++w)
                times[index][w].push_back(m[w]);
        }
        if (r > 0)
            for (int w = 0; w < 3; ++w)
                ratios[w].push_back(times[0][w].back() / times[1][w].back());
    }

    printf(
        "hook_bench: %d rounds of %d messages; ns per message (medians) and the median of the\n"
        "rounds' ratios mkhook / pass-through\n",
        rounds, n);
    printf("%-32s %12s %14s %8s %7s\n", "workload", "mkhook", "pass-through", "ratio", "build");
    bool within = true;
    for (int w = 0; w < 3; ++w) {
        double a = Median(times[0][w]), b = Median(times[1][w]);
        double ratio = Median(ratios[w]);
        within = within && ratio <= 1.05;
        printf("%-32s %12.0f %14.0f %8.3f %7s\n", names[w], a, b, ratio, MK_BENCH_ARCH);
    }
    printf("target: ratio 1.05 or less -> %s\n", within ? "met" : "NOT met");
    fflush(stdout);
    return 0;
}
