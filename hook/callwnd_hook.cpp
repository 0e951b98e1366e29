// The WH_CALLWNDPROC hook procedure: puts the suite's pop-up into the mascot host's context
// menu while the menu is being initialised, and for "ssp.exe" takes it out at the close.
#include "host_side.h"

LONG g_bCommandPending;

namespace {

// The "ssp.exe" context menu into which the pop-up was last inserted; null when no removal
// is due at the menu's close.
HMENU g_hPopupOwnerMenu;

const DWORD kTextBytes = 1024;

// How long the host's menu waits for the controller's pop-up. A controller that does not
// answer in time gets no item in this opening of the menu, rather than a frozen mascot.
const DWORD kPopupRequestMs = 2000;

// Shift_JIS: "開発用インターフェース(&D)", the first item of the first kind of host's
// developer menu, after which the suite's item goes further down.
const char kDeveloperMenuItem[] =
    "\x8a\x4a\x94\xad\x97\x70\x83\x43\x83\x93\x83\x5e\x81\x5b\x83\x74\x83\x46\x81\x5b\x83\x58"
    "(&D)";
// Shift_JIS: "ヘッドライン(&H)", the first item of the "ssp.exe" context menu.
const char kHeadlineMenuItem[] = "\x83\x77\x83\x62\x83\x68\x83\x89\x83\x43\x83\x93(&H)";
const char kSuiteItemCaption[] = "Mirekko(&F)";

// Asks the controller for the suite's pop-up (WM_USER+3); the host's thread waits for the
// answer while its menu is opening. Null with the reason in `*why` when there is none.
HMENU RequestPopup(const char** why) {
    HWND hController = FindController();
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(hController, MK_WM_GETPOPUP, 0, 0, SMTO_ABORTIFHUNG, kPopupRequestMs,
                             &answer)) {
        answer = 0;
        *why = hController ? "controller did not answer" : "no controller window";
    } else if (!answer) {
        *why = "no pop-up from the controller";
    }
    HMENU hPopup = reinterpret_cast<HMENU>(answer);
    g_hMenu = hPopup;
    return hPopup;
}

// Without a pop-up (no controller, or a null or late answer) there is nothing to show: the
// item is not inserted, and nothing is recorded for removal either. Returns the decision.
const char* InsertSuiteItem(HWND hwnd, HMENU hMenu, UINT position, bool* inserted) {
    const char* why = "";
    *inserted = false;
    HMENU hPopup = RequestPopup(&why);
    if (!hPopup)
        return why;
    if (!InsertMenuA(hMenu, position, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(hPopup),
                     kSuiteItemCaption))
        return "the menu refused the item";
    DrawMenuBar(hwnd);
    *inserted = true;
    return position == 4 ? "inserted at 4" : "inserted at 2";
}

void OnInitMenu(HWND hwnd, HMENU hMenu) {
    MkTrace trace;
    TraceBegin(&trace, "WM_INITMENU");
    const char* decision = "out of memory";
    int arg = 0;
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    char* firstItem = static_cast<char*>(MkAlloc(kTextBytes));
    char* path = static_cast<char*>(MkAlloc(MK_IMAGE_PATH_BYTES));
    if (className && firstItem && path) {
        GetClassNameA(hwnd, className, kTextBytes);
        trace.className = className;
        GetMenuStringA(hMenu, 0, firstItem, kTextBytes, MF_BYPOSITION);
        const int items = GetMenuItemCount(hMenu);
        const bool utilWindow = MkStrEqual(className, MK_HOST_MENU_CLASS);
        const bool mainForm = MkStrEqual(className, MK_HOST_MAIN_CLASS);
        DWORD pid;
        bool inserted;
        if (items > 5 && utilWindow) {
            const bool found = ReadWindowImagePath(hwnd, path, &pid, &trace);
            if (found && MkIsFirstKindHost(path, MK_IMAGE_PATH_BYTES)) {
                UINT position = MkStrEqual(firstItem, kDeveloperMenuItem) ? 4 : 2;
                decision = InsertSuiteItem(hwnd, hMenu, position, &inserted);
            } else {
                decision = "not a host";
            }
        } else if (MkStrEqual(firstItem, kHeadlineMenuItem) && mainForm) {
            const bool found = ReadWindowImagePath(hwnd, path, &pid, &trace);
            if (found && MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES)) {
                // Recorded only once the item is really in the menu: the close removes
                // whatever sits at position 2, which would otherwise be one of the host's.
                decision = InsertSuiteItem(hwnd, hMenu, 2, &inserted);
                if (inserted) {
                    g_bCommandPending = 1;
                    g_hPopupOwnerMenu = hMenu;
                }
            } else {
                decision = "not a host";
            }
        } else if (utilWindow) {
            decision = "%d items, needs more than 5";
            arg = items;
        } else if (mainForm) {
            decision = "first item is not the headline";
        } else {
            decision = "not a host window class";
        }
    }
    TraceEnd(&trace, decision, arg);
    MkFree(path);
    MkFree(firstItem);
    MkFree(className);
}

void OnMenuClosed(HWND hwnd) {
    MkTrace trace;
    TraceBegin(&trace, "WM_MENUSELECT (menu closed)");
    const char* decision = "out of memory";
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    char* path = static_cast<char*>(MkAlloc(MK_IMAGE_PATH_BYTES));
    if (className && path) {
        GetClassNameA(hwnd, className, kTextBytes);
        trace.className = className;
        decision = "not a host window class";
        if (MkStrEqual(className, MK_HOST_MAIN_CLASS)) {
            DWORD pid;
            const bool found = ReadWindowImagePath(hwnd, path, &pid, &trace);
            decision = "not a host";
            if (found && MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES)) {
                // The pop-up belongs to the controller: only unlinked here, never destroyed.
                RemoveMenu(g_hPopupOwnerMenu, 2, MF_BYPOSITION);
                g_hPopupOwnerMenu = NULL;
                decision = "removed the item at 2";
            }
        }
    }
    TraceEnd(&trace, decision);
    MkFree(path);
    MkFree(className);
}

}  // namespace

// Runs for every message sent to every hooked thread's windows: anything but the two menu
// messages costs one comparison and the call down the chain.
LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == HC_ACTION) {
        const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (msg->message == WM_INITMENU) {
            OnInitMenu(msg->hwnd, reinterpret_cast<HMENU>(msg->wParam));
        } else if (msg->message == WM_MENUSELECT && g_hPopupOwnerMenu != NULL && msg->lParam == 0 &&
                   HIWORD(msg->wParam) == 0xFFFF) {
            OnMenuClosed(msg->hwnd);
        }
    }
    return CallNextHookEx(g_hCallWndHook, nCode, wParam, lParam);
}
