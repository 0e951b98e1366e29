// What the program does before anything else of it runs. The loader calls the image's TLS
// callbacks when the process starts, after the system DLLs the image imports and before its
// entry point: so before the C runtime's start-up, the program's constructors and its first
// window, and before anything of the program could load a DLL.
//   1. The DLL search is restricted to the system directory. The system loads DLLs by name on
//      the program's behalf (the forwarder of advapi32's random source to cryptbase.dll, the
//      theme, input-method and accessibility DLLs that windows and Common Controls 6 pull in),
//      and the standard search looks first in the program's own folder, where the controller
//      keeps the files it installs: a DLL planted there would run inside the plug-in.
//   2. The stack canary gets its random value (StackGuard.cpp), before any guarded function.
#include <windows.h>

#include "StackGuard.h"

namespace ramtidy {
namespace {

template <typename F>
F Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    // Through void (*)(), the one function pointer type any other converts to without warning.
    return kernel32
               ? reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name)))
               : nullptr;
}

void RestrictDllSearch() {
    // Windows 8 and later, and Windows 7 and Vista with the loader update of 2011 (KB2533623):
    // the process's default search is the system directory alone, for every DLL loaded by name
    // and for the DLLs those import.
    auto set_default = Kernel32Function<BOOL(WINAPI*)(DWORD)>("SetDefaultDllDirectories");
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Without it the current directory can still be taken out of the search; the program's own
    // folder stays first in it.
    if (auto set_directory = Kernel32Function<BOOL(WINAPI*)(LPCWSTR)>("SetDllDirectoryW"))
        set_directory(L"");
}

// Unguarded: the canary changes while it runs.
__attribute__((no_stack_protector)) void NTAPI OnProcessStart(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return;
    RestrictDllSearch();
    SeedStackGuard();
}

// The loader calls the callbacks of the array that the .CRT$XL* sections make up, in the order
// of their names; .CRT$XLA opens it (MinGW-w64's runtime), so .CRT$XLB comes first.
__attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK g_OnProcessStart =
    OnProcessStart;

}  // namespace
}  // namespace ramtidy
