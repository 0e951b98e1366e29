// What the hook benchmarks share: a hook library loaded by its two exports, the clock, the
// median, and the loop that lets a thread's posted messages through its hooks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

#include "mirekko/mkhook.h"

namespace mk::bench {

// The exports as the library declares them; the benchmarks' own hook libraries export the
// same two.
using HookStartFn = decltype(&HookStart);
using HookExitFn = decltype(&HookExit);

struct Library {
    const char* name = nullptr;
    HMODULE module = nullptr;
    HookStartFn start = nullptr;
    HookExitFn exit = nullptr;

    // Loads `path` (the name when empty) and finds both exports; false when one is missing.
    bool Load(const char* library, const char* path = nullptr) {
        name = library;
        module = LoadLibraryA(path ? path : library);
        if (!module)
            return false;
        // Through void(*)(): FARPROC's own type does not match, and GCC says so.
        start = reinterpret_cast<HookStartFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "HookStart")));
        exit = reinterpret_cast<HookExitFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "HookExit")));
        return start && exit;
    }
};

inline double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

}  // namespace mk::bench
