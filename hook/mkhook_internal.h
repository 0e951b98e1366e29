// What the library's modules share: the per-process globals, heap buffers and the
// controller lookup. Every process that maps the library has its own zeroed copy of the
// globals; nothing here is shared between processes.
#ifndef MKHOOK_INTERNAL_H
#define MKHOOK_INTERNAL_H

#include <windows.h>

#include "mkhook.h"
#include "mkstr.h"

extern HINSTANCE g_hInstance;
extern HHOOK g_hCallWndHook;
extern HHOOK g_hGetMsgHook;
extern HMENU g_hMenu;
extern HANDLE g_hMutex;
// Written and read by the exports and the notice threads without locks: plain 32-bit values,
// volatile so that every read goes to memory.
extern HANDLE volatile g_hVersionThread;
extern HANDLE volatile g_hNoticeThread;
extern HWND volatile g_hNoticeTarget;
extern DWORD g_dwVersionThreadId;
extern DWORD g_dwNoticeThreadId;

// Working buffers come from the process heap per call and are zero-filled, so that a text
// that cannot be read compares as empty. MkFree accepts NULL.
void* MkAlloc(DWORD bytes);
void MkFree(void* p);

// The controller's window, looked up anew by its title before every send.
HWND FindController();

// Asks the controller for its menu (WM_USER+2); 0 when there is no controller window.
HMENU RequestControllerMenu();

LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GetMsgHookProc(int nCode, WPARAM wParam, LPARAM lParam);

DWORD WINAPI VersionBoxThread(LPVOID);
DWORD WINAPI InstalledNoticeThread(LPVOID);

// Remember a started notice or version-box thread, so that HookExit can end it and so that
// the handles of finished ones get closed.
void TrackNoticeThread(HANDLE hThread);
void TrackVersionThread(HANDLE hThread);
// HookExit: end the version-box thread and every notice thread still running, asking first
// and terminating only those that do not end within one shared grace period.
void EndLibraryThreads();
// The event a waiting notice thread watches; made on first use.
HANDLE NoticeCancelEvent();

#endif
