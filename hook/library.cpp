// Entry point and the state every part of the library shares within one process.
#include "library.h"

#include "integrity.h"
#include "utf16.h"

HINSTANCE g_hInstance;
HHOOK g_hCallWndHook;
HHOOK g_hGetMsgHook;
HMENU g_hMenu;

namespace {

// The controller's window as this process last found it, and the thread that owned it then.
// Written and read by any thread of the process without a lock: a reader that sees the two
// halves of different lookups fails the check and finds nothing, as it would without them.
HWND volatile g_hKnownController;
DWORD volatile g_dwKnownControllerThread;
bool volatile g_bKnownControllerOwn;  // a window of this process

// Windows with the controller's title looked at per lookup: enough for a real controller
// behind a few impostors, and a bound on the walk should someone make thousands.
const int kMaxTitledWindows = 32;

// This process's own integrity level, read once: 0 not yet, 1 being read, 2 read.
LONG volatile g_lOwnIntegrityState;
unsigned long g_ulOwnIntegrity;

typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI* GetTokenInformationFn)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);

// The integrity level of `hProcess`'s token, or kMkIntegrityUnknown. The token functions are
// taken by name from a system library the process has loaded already (KERNELBASE on Windows 8
// and later, else ADVAPI32), never loaded here: the library imports from KERNEL32, USER32 and
// SHELL32 alone, and must not load anything into the programs it runs in.
unsigned long IntegrityOf(HANDLE hProcess) {
    HMODULE hModule = GetModuleHandleA("kernelbase.dll");
    OpenProcessTokenFn pOpen = MkLookUp<OpenProcessTokenFn>(hModule, "OpenProcessToken");
    GetTokenInformationFn pQuery = MkLookUp<GetTokenInformationFn>(hModule, "GetTokenInformation");
    if (!pOpen || !pQuery) {
        hModule = GetModuleHandleA("advapi32.dll");
        pOpen = MkLookUp<OpenProcessTokenFn>(hModule, "OpenProcessToken");
        pQuery = MkLookUp<GetTokenInformationFn>(hModule, "GetTokenInformation");
    }
    if (!pOpen || !pQuery)
        return kMkIntegrityUnknown;
    HANDLE hToken;
    if (!pOpen(hProcess, TOKEN_QUERY, &hToken))
        return kMkIntegrityUnknown;
    // A mandatory label: the record, then the SID it points at, within the same buffer.
    DWORD buffer[32];
    DWORD got = 0;
    unsigned long level = kMkIntegrityUnknown;
    if (pQuery(hToken, TokenIntegrityLevel, buffer, sizeof buffer, &got) &&
        got >= sizeof(TOKEN_MANDATORY_LABEL) && got <= sizeof buffer) {
        const unsigned char* begin = reinterpret_cast<const unsigned char*>(buffer);
        const unsigned char* sid = static_cast<const unsigned char*>(
            reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid);
        if (sid >= begin && sid < begin + got)
            level = MkSidLastRid(sid, static_cast<unsigned long>(begin + got - sid));
    }
    CloseHandle(hToken);
    return level;
}

unsigned long OwnIntegrity() {
    if (__atomic_load_n(&g_lOwnIntegrityState, __ATOMIC_ACQUIRE) == 2)
        return g_ulOwnIntegrity;
    const unsigned long level = IntegrityOf(GetCurrentProcess());
    LONG expected = 0;
    if (__atomic_compare_exchange_n(&g_lOwnIntegrityState, &expected, 1, false, __ATOMIC_ACQUIRE,
                                    __ATOMIC_RELAXED)) {
        g_ulOwnIntegrity = level;
        __atomic_store_n(&g_lOwnIntegrityState, 2, __ATOMIC_RELEASE);
    }
    return level;
}

// Whether a window of process `pid` may be the controller of this mascot host: not when its
// process is known to run at a lower integrity level (a sandboxed or low-rights program, which
// Windows lets read nothing of the host's, would otherwise get every dropped path and hold
// the host's drops). Where the system cannot tell, nothing is refused.
bool MayBeController(DWORD pid) {
    const unsigned long own = OwnIntegrity();
    if (own == kMkIntegrityUnknown || pid == GetCurrentProcessId())
        return true;
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!hProcess)
        return true;  // Windows lets a process look at those of its user that run lower
    const unsigned long level = IntegrityOf(hProcess);
    CloseHandle(hProcess);
    return MkIntegrityAllowsController(own, level);
}

}  // namespace

// The system calls this in every process the hooks reach. It only records the module
// handle: a detach must not unhook, since the controller's process may still need them.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD, LPVOID) {
    g_hInstance = hInstance;
    return TRUE;
}

void* MkAlloc(DWORD bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void MkFree(void* p) {
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

HWND FindController(bool ownProcess) {
    // The title is the protocol, and the first way. None of these calls sends the controller
    // a message: they read what the system keeps of its windows, so a controller that does
    // not serve keeps nobody waiting here. FindWindowEx walks the windows with the title in
    // the order FindWindow finds them, so that a window made later with the same title,
    // which FindWindow would take first, does not hide the real one.
    const DWORD self = GetCurrentProcessId();
    HWND hWindow = NULL;
    for (int i = 0; i < kMaxTitledWindows; ++i) {
        hWindow = FindWindowExA(NULL, hWindow, NULL, MK_CONTROLLER_TITLE);
        if (!hWindow)
            break;
        // The window taken last time, found by its title again: the usual case, answered
        // without asking the system about the window once more.
        if (hWindow == g_hKnownController && (!ownProcess || g_bKnownControllerOwn))
            return hWindow;
        DWORD pid = 0;
        const DWORD thread = GetWindowThreadProcessId(hWindow, &pid);
        if (!thread)
            continue;  // gone meanwhile
        if (ownProcess ? pid != self : !MayBeController(pid))
            continue;
        g_hKnownController = NULL;
        g_dwKnownControllerThread = thread;
        g_bKnownControllerOwn = pid == self;
        g_hKnownController = hWindow;
        return hWindow;
    }
    // A destroyed window has no thread, and a handle's value comes back for another window
    // only after its slot in the system's table has been reused many times over (the upper
    // bits count the reuses): a known window that still has the thread it had is still the
    // controller, whatever its title says at the moment.
    HWND hKnown = g_hKnownController;
    const DWORD thread = g_dwKnownControllerThread;
    DWORD pid = 0;
    if (hKnown && thread && GetWindowThreadProcessId(hKnown, &pid) == thread &&
        (!ownProcess || pid == self))
        return hKnown;
    return NULL;
}

MkAnsi MkToAnsi(const wchar_t* wide, char* ansi, int bytes) {
    // A UTF-8 code page writes every character but takes neither the no-best-fit flag nor the
    // default character; there only broken surrogate pairs have no form, and they would turn
    // into U+FFFD silently unless the conversion is told to refuse them.
    if (GetACP() == CP_UTF8) {
        if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, ansi, bytes, NULL, NULL) >
            0)
            return kMkAnsiExact;
        DWORD error = GetLastError();
        if (error != ERROR_NO_UNICODE_TRANSLATION)
            return error == ERROR_INSUFFICIENT_BUFFER ? kMkAnsiTooLong : kMkAnsiFailed;
        const int length = lstrlenW(wide);
        wchar_t* repaired = static_cast<wchar_t*>(MkAlloc((length + 1) * sizeof(wchar_t)));
        if (!repaired)
            return kMkAnsiFailed;
        lstrcpyW(repaired, wide);
        MkReplaceUnpairedSurrogates(reinterpret_cast<char16_t*>(repaired), u'?');
        const int n = WideCharToMultiByte(CP_UTF8, 0, repaired, -1, ansi, bytes, NULL, NULL);
        error = GetLastError();
        MkFree(repaired);
        if (n > 0)
            return kMkAnsiLossy;
        return error == ERROR_INSUFFICIENT_BUFFER ? kMkAnsiTooLong : kMkAnsiFailed;
    }
    BOOL lost = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, bytes, "?", &lost) > 0)
        return lost ? kMkAnsiLossy : kMkAnsiExact;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kMkAnsiTooLong : kMkAnsiFailed;
}

HANDLE StartLibraryThread(LPTHREAD_START_ROUTINE proc, void* param, DWORD flags, DWORD* id) {
    // The reference is taken before the thread exists, so that there is no moment in which
    // the library could be unmapped under it.
    HMODULE hSelf = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&g_hInstance), &hSelf))
        return NULL;
    DWORD threadId;
    HANDLE hThread = CreateThread(NULL, 0, proc, param, flags, id ? id : &threadId);
    if (!hThread)
        FreeLibrary(hSelf);
    return hThread;
}
