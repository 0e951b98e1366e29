// The exports the controller calls to start, refresh and stop the library.
#include "controller_side.h"
#include "host_side.h"
#include "version.h"

namespace {

HANDLE g_hMutex;

// Asks the controller for its menu (WM_USER+2); 0 when there is no controller window.
HMENU RequestControllerMenu() {
    return reinterpret_cast<HMENU>(SendMessageA(FindController(), MK_WM_GETMENU, 0, 0));
}

}  // namespace

extern "C" HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD /*dwReserved*/) {
    g_hMenu = RequestControllerMenu();
    g_hCallWndHook = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHookProc, g_hInstance, dwThreadId);
    g_hGetMsgHook = SetWindowsHookExA(WH_GETMESSAGE, GetMsgHookProc, g_hInstance, dwThreadId);
    g_hMutex = CreateMutexA(NULL, TRUE, MK_MUTEX_NAME);
    return g_hCallWndHook;
}

extern "C" int WINAPI HookExit(void) {
    // The hooks go first, before anything here waits for the library's threads. On 64-bit
    // Windows the hooks of this 32-bit library run on this very thread for every 64-bit
    // program's windows: while it waited with them in place, those programs would wait too.
    UnhookWindowsHookEx(g_hGetMsgHook);
    UnhookWindowsHookEx(g_hCallWndHook);
    EndLibraryThreads();
    CloseHandle(g_hMutex);
    DestroyMenu(g_hMenu);
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
