// The benchmark's baseline: the same two hooks as mkhook, with the same exports to start and
// end them, whose procedures do nothing but pass each message on.
#include <windows.h>

namespace {

HINSTANCE g_hInstance;
HHOOK g_hCallWndHook;
HHOOK g_hGetMsgHook;

LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(g_hCallWndHook, nCode, wParam, lParam);
}

LRESULT CALLBACK GetMsgHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(g_hGetMsgHook, nCode, wParam, lParam);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD, LPVOID) {
    g_hInstance = hInstance;
    return TRUE;
}

extern "C" HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD) {
    g_hCallWndHook = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHookProc, g_hInstance, dwThreadId);
    g_hGetMsgHook = SetWindowsHookExA(WH_GETMESSAGE, GetMsgHookProc, g_hInstance, dwThreadId);
    return g_hCallWndHook;
}

extern "C" int WINAPI HookExit(void) {
    UnhookWindowsHookEx(g_hGetMsgHook);
    UnhookWindowsHookEx(g_hCallWndHook);
    return 0;
}
