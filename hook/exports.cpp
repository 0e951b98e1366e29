// The exports the controller calls to start, refresh and stop the library.
#include "controller_side.h"
#include "host_side.h"
#include "version.h"

namespace {

HANDLE g_hMutex;

// Asks the controller for its menu (WM_USER+2); 0 when there is no controller window. The
// controller is the program that loaded the library: only its own window counts, so the send
// goes to a window of this process and waits on no other.
HMENU RequestControllerMenu() {
    return reinterpret_cast<HMENU>(SendMessageA(FindController(true), MK_WM_GETMENU, 0, 0));
}

}  // namespace

extern "C" HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD /*dwReserved*/) {
    // A HookStart that failed keeps the menu it asked for (below); a retry asks again, and the
    // menu held is the library's to destroy first, as InMKRefresh does (null the first time).
    DestroyMenu(g_hMenu);
    g_hMenu = RequestControllerMenu();
    // Both hooks or none. The menu goes in by one and its commands come back by the other, so
    // half a pair would show the suite's item and drop what is chosen from it, while the
    // controller was told that all was well. The second is not tried without the first: it
    // would map the library into every hooked program only to be taken out again.
    HHOOK hCallWnd = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHookProc, g_hInstance, dwThreadId);
    HHOOK hGetMsg =
        hCallWnd ? SetWindowsHookExA(WH_GETMESSAGE, GetMsgHookProc, g_hInstance, dwThreadId) : NULL;
    if (!hGetMsg) {
        const DWORD error = GetLastError();
        if (hCallWnd)
            UnhookWindowsHookEx(hCallWnd);
        // "MKP" is not made either: it tells other programs that the suite's hooks are in
        // place, and none is. A controller that tries again then gets it with the hooks,
        // instead of a second handle of which HookExit would close only the last, leaving the
        // name in existence for good. The menu stays held, for InMKRefresh, HookExit or a retry.
        SetLastError(error);
        return NULL;
    }
    g_hCallWndHook = hCallWnd;
    g_hGetMsgHook = hGetMsg;
    g_hMutex = CreateMutexA(NULL, TRUE, MK_MUTEX_NAME);
    return g_hCallWndHook;
}

extern "C" int WINAPI HookExit(void) {
    // The hooks go first, before anything here waits for the library's threads. On 64-bit
    // Windows the hooks of this 32-bit library run on this very thread for every 64-bit
    // program's windows: while it waited with them in place, those programs would wait too.
    if (g_hGetMsgHook)
        UnhookWindowsHookEx(g_hGetMsgHook);
    if (g_hCallWndHook)
        UnhookWindowsHookEx(g_hCallWndHook);
    EndLibraryThreads();
    if (g_hMutex)
        CloseHandle(g_hMutex);
    DestroyMenu(g_hMenu);
    return 0;
}

extern "C" int WINAPI MKRefresh(void) {
    HWND hController = FindController(true);
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
