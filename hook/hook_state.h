// What the two hook procedures keep per process between messages. Only a mascot host's
// process ever changes these; both procedures run on its GUI thread, so no lock is needed.
#ifndef MKHOOK_HOOK_STATE_H
#define MKHOOK_HOOK_STATE_H

#include <windows.h>

// The "ssp.exe" context menu into which the pop-up was last inserted; null when no removal
// is due at the menu's close.
extern HMENU g_hPopupOwnerMenu;
// 1 after the pop-up was inserted into an "ssp.exe" context menu: the next command reaching
// that host's main window may be one of the suite's.
extern LONG g_bCommandPending;
// 1 when the next drop on an "ssp.exe" main window is to pass unforwarded.
extern LONG g_bSkipNextDrop;

// Sends (hwnd, msg, wParam, lParam) from a worker thread of its own, so that the calling
// thread does not wait for the receiver.
void StartSendThread(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

#endif
