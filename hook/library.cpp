// Entry point and the state every part of the library shares within one process.
#include "library.h"

HINSTANCE g_hInstance;
HHOOK g_hCallWndHook;
HHOOK g_hGetMsgHook;
HMENU g_hMenu;

namespace {

// The controller's window as this process last found it by its title, and the thread that
// owned it then. Written and read by any thread of the process without a lock: a reader that
// sees the two halves of different lookups fails the check and finds nothing, as it would
// without them.
HWND volatile g_hKnownController;
DWORD volatile g_dwKnownControllerThread;

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

HWND FindController() {
    // The title is the protocol, and the first way. Neither call sends the controller a
    // message: both read what the system keeps of the window, so a controller that does not
    // serve keeps nobody waiting here.
    HWND hController = FindWindowA(NULL, MK_CONTROLLER_TITLE);
    if (hController) {
        if (hController != g_hKnownController) {
            g_hKnownController = NULL;
            g_dwKnownControllerThread = GetWindowThreadProcessId(hController, NULL);
            g_hKnownController = hController;
        }
        return hController;
    }
    // A destroyed window has no thread, and a handle's value comes back for another window
    // only after its slot in the system's table has been reused many times over (the upper
    // bits count the reuses): a known window that still has the thread it had is still the
    // controller, whatever its title says at the moment.
    HWND hKnown = g_hKnownController;
    const DWORD thread = g_dwKnownControllerThread;
    if (hKnown && thread && GetWindowThreadProcessId(hKnown, NULL) == thread)
        return hKnown;
    return NULL;
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
