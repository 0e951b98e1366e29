// Entry point and the state every part of the library shares within one process.
#include "library.h"

HINSTANCE g_hInstance;
HHOOK g_hCallWndHook;
HHOOK g_hGetMsgHook;
HMENU g_hMenu;

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

HWND FindController() {
    return FindWindowA(NULL, MK_CONTROLLER_TITLE);
}
