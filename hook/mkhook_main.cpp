// Entry point, per-process state and the exports the controller calls.
#include "mkhook_internal.h"
#include "version.h"

HINSTANCE g_hInstance;
HHOOK g_hCallWndHook;
HHOOK g_hGetMsgHook;
HMENU g_hMenu;
HANDLE g_hMutex;
HANDLE volatile g_hVersionThread;
HANDLE volatile g_hNoticeThread;
HWND volatile g_hNoticeTarget;
DWORD g_dwVersionThreadId;
DWORD g_dwNoticeThreadId;

void* MkAlloc(DWORD bytes) {
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void MkFree(void* p) {
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

HWND FindController() {
    return FindWindowA(NULL, MK_CONTROLLER_TITLE);
}

HMENU RequestControllerMenu() {
    return reinterpret_cast<HMENU>(SendMessageA(FindController(), MK_WM_GETMENU, 0, 0));
}

// The system calls this in every process the hooks reach. It only records the module
// handle: a detach must not unhook, since the controller's process may still need them.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD, LPVOID) {
    g_hInstance = hInstance;
    return TRUE;
}

extern "C" HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD /*dwReserved*/) {
    g_hMenu = RequestControllerMenu();
    g_hCallWndHook = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHookProc, g_hInstance, dwThreadId);
    g_hGetMsgHook = SetWindowsHookExA(WH_GETMESSAGE, GetMsgHookProc, g_hInstance, dwThreadId);
    g_hMutex = CreateMutexA(NULL, TRUE, MK_MUTEX_NAME);
    return g_hCallWndHook;
}

extern "C" int WINAPI HookExit(void) {
    EndLibraryThreads();
    CloseHandle(g_hMutex);
    DestroyMenu(g_hMenu);
    UnhookWindowsHookEx(g_hGetMsgHook);
    UnhookWindowsHookEx(g_hCallWndHook);
    return 0;
}

extern "C" int WINAPI MKRefresh(void) {
    HWND hController = FindController();
    if (!hController)
        return -1;
    SendMessageA(hController, MK_WM_REFRESH, 0, 0);
    return 0;
}

extern "C" int WINAPI InMKRefresh(void) {
    DestroyMenu(g_hMenu);
    g_hMenu = RequestControllerMenu();
    return 0;
}

extern "C" int WINAPI MKGetVersion(void) {
    return MKHOOK_API_VERSION;
}

extern "C" int WINAPI MKShowVersion(void) {
    if (!g_hVersionThread) {
        // Started suspended so that the handle is stored before the thread can clear it.
        HANDLE hThread =
            CreateThread(NULL, 0, VersionBoxThread, NULL, CREATE_SUSPENDED, &g_dwVersionThreadId);
        g_hVersionThread = hThread;
        if (hThread) {
            TrackVersionThread(hThread);
            ResumeThread(hThread);
        }
    }
    return 0;
}

extern "C" int WINAPI MKShowMKIOK(HWND hWnd) {
    g_hNoticeTarget = hWnd;
    NoticeCancelEvent();  // before the thread waits on it
    HANDLE hThread =
        CreateThread(NULL, 0, InstalledNoticeThread, NULL, CREATE_SUSPENDED, &g_dwNoticeThreadId);
    g_hNoticeThread = hThread;
    if (hThread) {
        TrackNoticeThread(hThread);
        ResumeThread(hThread);
    }
    return 0;
}
