// What every part of the library uses, in whichever process it runs: its module handle, the
// two hook handles, the menu handle, heap buffers and the controller lookup. Each process that
// maps the library has its own zeroed copy of these variables; no section is shared.
#ifndef MKHOOK_LIBRARY_H
#define MKHOOK_LIBRARY_H

#include <windows.h>

#include "mirekko/mkhook.h"
#include "mkstr.h"

extern HINSTANCE g_hInstance;
// Set by HookStart in the controller's process; in the mascot host they stay null, which the
// hook procedures pass on to CallNextHookEx all the same.
extern HHOOK g_hCallWndHook;
extern HHOOK g_hGetMsgHook;
// In the controller's process the menu handed over by WM_USER+2, owned by the library; in the
// mascot host the last pop-up handle the controller answered WM_USER+3 with.
extern HMENU g_hMenu;

// Working buffers come from the process heap per call and are zero-filled, so that a text
// that cannot be read compares as empty. MkFree accepts NULL.
void* MkAlloc(DWORD bytes);
void MkFree(void* p);

// The controller's window, looked up anew by its title before every send. While a drop is
// being handed over, the controller's title is the dropped path and that lookup finds
// nothing; then the window this process last found by its title is taken, if it still
// belongs to the thread that owned it then. NULL when neither is there.
HWND FindController();

// The library's trace (trace.cpp): true while its switch is on, looked for at most twice a
// second; TraceText writes "mkhook: <text>" then. The hook procedures write their lines with
// TraceBegin and TraceEnd (host_side.h).
bool TraceOn();
void TraceText(const char* text);

// Starts a thread of the library (CreateThread `flags`) that holds a reference on the
// library until it ends, so that its code stays mapped should the library be freed
// meanwhile (the hooks removed in the host, FreeLibrary in the controller). The thread must
// end with FreeLibraryAndExitThread(g_hInstance, ...), or whoever ends it otherwise must
// release the reference for it. NULL when none could be started.
HANDLE StartLibraryThread(LPTHREAD_START_ROUTINE proc, void* param, DWORD flags, DWORD* id);

#endif
