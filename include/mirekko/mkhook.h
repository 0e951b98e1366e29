/*
 * mkhook.dll, the Mirekko hook library: its seven exports, for controller authors.
 *
 * Load the library, call HookStart once, then any of the others in any order, and HookExit
 * once as the last call before unloading it. All exports use the standard calling convention
 * and are exported by these undecorated names at these ordinals (HookStart 1, HookExit 2,
 * MKRefresh 3, InMKRefresh 4, MKGetVersion 5, MKShowVersion 6, MKShowMKIOK 7). The messages
 * the controller's window receives are in protocol.h.
 */
#ifndef MIREKKO_MKHOOK_H
#define MIREKKO_MKHOOK_H

#include <windows.h>

#include "protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Takes the controller's menu (WM_USER+2), installs the WH_CALLWNDPROC and WH_GETMESSAGE
   hooks for dwThreadId (0: every thread of the desktop) and creates the mutex "MKP".
   Returns the WH_CALLWNDPROC hook handle. NULL when either hook could not be installed: then
   neither is in place, "MKP" is not created, GetLastError tells why, and HookStart may be
   called again; the menu is held all the same (HookExit destroys it). */
HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD dwReserved);

/* Removes both hooks, then ends the version box and every pending plug-in-installed notice:
   from then on no notice is sent and no box opens; the version box is closed, and a notice
   still waiting on its mascot after 2 s in all is terminated in that wait. Closes "MKP" and
   destroys the held menu. Returns 0. The library must not be used afterwards. */
int WINAPI HookExit(void);

/* Sends WM_USER+1 to the controller's window. 0, or -1 when no such window exists. While a
   drop's path is the window's title, the window the library found before by its title is
   taken, as for every message the library sends. */
int WINAPI MKRefresh(void);

/* Destroys the held menu and asks the controller for a new one (WM_USER+2). Returns 0. */
int WINAPI InMKRefresh(void);

/* 120. */
int WINAPI MKGetVersion(void);

/* Shows the version box on a thread of its own, unless one is open. Returns 0 at once. */
int WINAPI MKShowVersion(void);

/* Four seconds from now, has the mascot window hWnd (the one passed by the latest call)
   say that the dropped file was a Mirekko plug-in file. A mascot that does not take the
   request within 5 s does not get it. Returns 0 at once. */
int WINAPI MKShowMKIOK(HWND hWnd);

#ifdef __cplusplus
}
#endif

#endif
