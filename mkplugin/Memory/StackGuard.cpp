// The stack canary of the functions that -fstack-protector-strong guards, and what happens when
// one is found overwritten. GCC's libssp would provide both, but it seeds the canary through
// CryptAcquireContext, which loads a cryptographic provider at every start: under Wine that
// added tens of milliseconds to each start, a quarter and more of a memory status report. The
// system's random source (RtlGenRandom) gives the same canary without a provider.
#include <windows.h>

#include <cstdint>

#include "StackGuard.h"

extern "C" {

// Read by every guarded function; written once, by SeedStackGuard, before any of them runs.
uintptr_t __stack_chk_guard = 0;

[[noreturn]] void __stack_chk_fail(void) {
    // A frame's canary was overwritten: the stack is not to be trusted, so nothing may unwind
    // or run handlers. Windows 8 and later report it as a stack buffer overrun (fail fast).
    const DWORD kFastFailAvailable = 23;  // PF_FASTFAIL_AVAILABLE
    if (IsProcessorFeaturePresent(kFastFailAvailable))
        __asm__ volatile("int $0x29"
                         :
                         : "c"(2));  // __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE)
    TerminateProcess(GetCurrentProcess(), 0xC0000409u);  // STATUS_STACK_BUFFER_OVERRUN
    for (;;) {
    }
}

}  // extern "C"

namespace ramtidy {

// Itself unguarded, since it changes the canary. The system's random source is looked up after
// the DLL search was restricted: on Windows, advapi32's SystemFunction036 is forwarded to
// cryptbase.dll, which the loader then loads by name.
__attribute__((no_stack_protector)) void SeedStackGuard() {
    using RandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    auto random = advapi ? reinterpret_cast<RandomFn>(reinterpret_cast<void (*)()>(
                               GetProcAddress(advapi, "SystemFunction036")))  // RtlGenRandom
                         : nullptr;
    uintptr_t value = 0;
    if (!random || !random(&value, sizeof value)) {
        // No random source: what the process and the moment give, as compilers' own cookies do.
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        value = static_cast<uintptr_t>(counter.QuadPart) ^ now.dwLowDateTime ^
                (static_cast<uintptr_t>(GetCurrentProcessId()) << 16) ^ GetCurrentThreadId() ^
                reinterpret_cast<uintptr_t>(&value);
    }
    __stack_chk_guard = value ? value : 0x2F8A4B61u;
}

}  // namespace ramtidy
