/*
 * mkhook.dll: the Mirekko hook library, for controller authors.
 *
 * The controller owns a hidden window titled "MK_GETMSG_WND" that exists before HookStart
 * and stays until after HookExit. The library looks it up by that title before every send.
 * Call HookStart once after loading the library, HookExit once as the last call before
 * unloading it; the other exports in between, in any order. All exports use the standard
 * calling convention and are exported by these undecorated names at these ordinals.
 *
 * Messages the controller's window receives (all sent with SendMessageA):
 *   MK_WM_COMMAND   (WM_USER+0) wParam = mascot window, lParam = command id (1000..65535),
 *                   from a worker thread in the mascot host after a suite menu command.
 *   MK_WM_REFRESH   (WM_USER+1) from MKRefresh.
 *   MK_WM_GETMENU   (WM_USER+2) answer with a menu handle; the library owns it from then on
 *                   and destroys it in InMKRefresh (before asking again) and in HookExit.
 *   MK_WM_GETPOPUP  (WM_USER+3) answer with the suite's pop-up menu; it is inserted into the
 *                   mascot's context menu as "Mirekko(&F)". The library never destroys it.
 *   MK_WM_DROPFILE  (WM_USER+4) wParam = mascot window. The dropped file's path is the
 *                   window's title at that moment (lParam points into the host's memory and
 *                   is useless elsewhere); set the title back to "MK_GETMSG_WND" afterwards.
 */
#ifndef MKHOOK_H
#define MKHOOK_H

#include <windows.h>

#define MK_CONTROLLER_TITLE "MK_GETMSG_WND"
#define MK_MUTEX_NAME "MKP"

#define MK_WM_COMMAND (WM_USER + 0)
#define MK_WM_REFRESH (WM_USER + 1)
#define MK_WM_GETMENU (WM_USER + 2)
#define MK_WM_GETPOPUP (WM_USER + 3)
#define MK_WM_DROPFILE (WM_USER + 4)

/* The SSTP envelope: WM_COPYDATA with this dwData, the request text in Shift_JIS as lpData
   and its byte count (no terminating zero) as cbData, the sender's window as wParam. */
#define MK_SSTP_COPYDATA_ID 9801

#ifdef __cplusplus
extern "C" {
#endif

/* Takes the controller's menu (WM_USER+2), installs the WH_CALLWNDPROC and WH_GETMESSAGE
   hooks for dwThreadId (0: every thread of the desktop) and creates the mutex "MKP".
   Returns the WH_CALLWNDPROC hook handle, NULL if it could not be installed. */
HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD dwReserved);

/* Ends the version box and any pending plug-in-installed notice, closes "MKP", destroys the
   held menu and removes both hooks. Returns 0. The library must not be used afterwards. */
int WINAPI HookExit(void);

/* Sends WM_USER+1 to the controller's window. 0, or -1 when no such window exists. */
int WINAPI MKRefresh(void);

/* Destroys the held menu and asks the controller for a new one (WM_USER+2). Returns 0. */
int WINAPI InMKRefresh(void);

/* 120. */
int WINAPI MKGetVersion(void);

/* Shows the version box on a thread of its own, unless one is open. Returns 0 at once. */
int WINAPI MKShowVersion(void);

/* Four seconds from now, has the mascot window hWnd (the one passed by the latest call)
   say that the dropped file was a Mirekko plug-in file. Returns 0 at once. */
int WINAPI MKShowMKIOK(HWND hWnd);

#ifdef __cplusplus
}
#endif

#endif
