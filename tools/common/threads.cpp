#include "threads.h"

#include <tlhelp32.h>

namespace mk::tools {
namespace {

typedef LONG(NTAPI* NtQueryInformationThreadFn)(HANDLE, int, PVOID, ULONG, PULONG);
const int kThreadQuerySetWin32StartAddress = 9;

}  // namespace

int CountThreadsStartedIn(HMODULE module) {
    if (!module)
        return 0;
    // Through void(*)(): FARPROC's own type does not match, and GCC says so.
    auto query = reinterpret_cast<NtQueryInformationThreadFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    if (!query)
        return -1;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
    ULONG_PTR begin = reinterpret_cast<ULONG_PTR>(module);
    ULONG_PTR end = begin + nt->OptionalHeader.SizeOfImage;

    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    DWORD pid = GetCurrentProcessId();
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID != pid)
            continue;
        HANDLE h = OpenThread(THREAD_QUERY_INFORMATION, FALSE, te.th32ThreadID);
        if (!h)
            continue;
        ULONG_PTR start = 0;
        if (query(h, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 &&
            (start == 0 || (start >= begin && start < end)))
            ++count;
        CloseHandle(h);
    }
    CloseHandle(snap);
    return count;
}

}  // namespace mk::tools
