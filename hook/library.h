// What every part of the library uses, in whichever process it runs: its module handle, the
// two hook handles, the menu handle, heap buffers and the controller lookup. Each process that
// maps the library has its own zeroed copy of these variables; no section is shared.
#ifndef MKHOOK_LIBRARY_H
#define MKHOOK_LIBRARY_H

#include <windows.h>

#include "mirekko/mkhook.h"
#include "mkstr.h"

// The pure units take UTF-16 text as char16_t; Windows' wchar_t is the same unit.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is a UTF-16 unit on Windows");

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

// The controller's window, looked up anew by its title before every send. A title is no
// proof: any program can give a window that title. In the controller's own process (the
// exports and the notices: `ownProcess`) only a window of this process counts; in a mascot
// host, a window of a process at a lower integrity level than the host's does not (where the
// system can tell). While a drop is being handed over, the controller's title is the dropped
// path and the lookup finds nothing; then the window this process last found is taken, if it
// still belongs to the thread that owned it then. NULL when neither is there.
HWND FindController(bool ownProcess);

// Text converted from UTF-16 into the ANSI code page, never with a best-fit substitute (on
// code page 932 U+00A5 would become a backslash, "é" an "e": another path, another name).
enum MkAnsi {
    kMkAnsiExact,    // every character has its own form
    kMkAnsiLossy,    // "?" stands for each character the code page lacks (on a UTF-8 code
                     // page, for each half of a broken surrogate pair)
    kMkAnsiTooLong,  // the exact form needs more than `bytes` with its terminator
    kMkAnsiFailed,   // nothing usable in `ansi`
};
// Converts the zero-terminated `wide` into `ansi` (`bytes` bytes, zero-terminated whenever the
// result is exact or lossy and fits).
MkAnsi MkToAnsi(const wchar_t* wide, char* ansi, int bytes);

// A function of `hModule` by name, or NULL; through the generic function type, which the
// compilers accept as a cast between function pointers without a warning.
template <typename Fn>
Fn MkLookUp(HMODULE hModule, const char* name) {
    return hModule
               ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, name)))
               : NULL;
}

// The library's trace (trace.cpp): true while its switch is on, looked for at most twice a
// second; TraceText writes "mkhook: <text>" then. The hook procedures write their lines with
// TraceBegin and TraceEnd (host_side.h).
bool TraceOn();
void TraceText(const char* text);
// For HookExit: has the trace's writer thread write what is queued and end, waiting at most
// `waitMs` and handling the messages sent to this thread meanwhile. False when it is still
// running then (stuck on a debug-output reader that does not read, say).
bool EndTraceWriter(DWORD waitMs);

// Starts a thread of the library (CreateThread `flags`) that holds a reference on the
// library until it ends, so that its code stays mapped should the library be freed
// meanwhile (the hooks removed in the host, FreeLibrary in the controller). The thread must
// end with FreeLibraryAndExitThread(g_hInstance, ...), or whoever ends it otherwise must
// release the reference for it. NULL when none could be started.
HANDLE StartLibraryThread(LPTHREAD_START_ROUTINE proc, void* param, DWORD flags, DWORD* id);

#endif
