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
