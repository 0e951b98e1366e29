// The WH_CALLWNDPROC hook procedure: puts the suite's pop-up into the mascot host's context
// menu while the menu is being initialised, and for "ssp.exe" takes it out at the close.
#include "host_side.h"

LONG g_bCommandPending;

namespace {

// The "ssp.exe" context menu into which the pop-up was last inserted; null when no removal
// is due at the menu's close.
HMENU g_hPopupOwnerMenu;
// Counts the insertions into "ssp.exe" menus, so that one that failed can tell whether another
// came while it waited.
DWORD g_dwSspInsertions;

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
    HWND hController = FindController(false);
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
    // Redraws the window's menu bar, should the window have one. A context menu's window
    // usually has none, and then there is nothing to draw: Windows itself returns at once,
    // while Wine still recomputes the window's frame, which cost the host's menu more than
    // the rest of the insertion.
    if (GetMenu(hwnd))
        DrawMenuBar(hwnd);
    *inserted = true;
    return position == 4 ? "inserted at 4" : "inserted at 2";
}

// Requested and inserted for an "ssp.exe" context menu, with the record for the removal at
// the close. Returns the decision.
const char* InsertIntoSspMenu(HWND hwnd, HMENU hMenu) {
    // The record comes first, before the host's thread waits for the controller: a command or
    // a close that reaches this thread meanwhile (it handles sent messages while it waits,
    // and one of them may run a nested loop) must see the state the insertion leaves.
    const HMENU ownerBefore = g_hPopupOwnerMenu;
    const LONG pendingBefore = g_bCommandPending;
    const DWORD insertion = ++g_dwSspInsertions;
    g_bCommandPending = 1;
    g_hPopupOwnerMenu = hMenu;
    bool inserted;
    const char* decision = InsertSuiteItem(hwnd, hMenu, 2, &inserted);
    // Nothing went in: the close must not remove whatever sits at position 2, which is one of
    // the host's own items. Undone only if no other insertion came in the meantime.
    if (!inserted && g_dwSspInsertions == insertion) {
        g_hPopupOwnerMenu = ownerBefore;
        if (g_bCommandPending == 1)
            g_bCommandPending = pendingBefore;
    }
    return decision;
}

void OnInitMenu(HWND hwnd, HMENU hMenu) {
    MkTrace trace;
    TraceBegin(&trace, "WM_INITMENU");
    const char* decision = "out of memory";
    int arg = 0;
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    char* firstItem = static_cast<char*>(MkAlloc(kTextBytes));
    if (className && firstItem) {
        ReadClassName(hwnd, className, kTextBytes);
        trace.className = className;
        ReadMenuItemText(hMenu, 0, firstItem, kTextBytes);
        const int items = GetMenuItemCount(hMenu);
        const bool utilWindow = MkStrEqual(className, MK_HOST_MENU_CLASS);
        const bool mainForm = MkStrEqual(className, MK_HOST_MAIN_CLASS);
        MkImage scratch;
        if (items > 5 && utilWindow) {
            const MkImage* image = ThisProcessImage(&scratch, &trace);
            decision = "not a host";
            if (image && image->firstKind) {
                UINT position = MkStrEqual(firstItem, kDeveloperMenuItem) ? 4 : 2;
                bool inserted;
                decision = InsertSuiteItem(hwnd, hMenu, position, &inserted);
            }
        } else if (MkStrEqual(firstItem, kHeadlineMenuItem) && mainForm) {
            const MkImage* image = ThisProcessImage(&scratch, &trace);
            decision = image && image->secondKind ? InsertIntoSspMenu(hwnd, hMenu) : "not a host";
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
    MkFree(firstItem);
    MkFree(className);
}

void OnMenuClosed(HWND hwnd) {
    MkTrace trace;
    TraceBegin(&trace, "WM_MENUSELECT (menu closed)");
    const char* decision = "out of memory";
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    if (className) {
        ReadClassName(hwnd, className, kTextBytes);
        trace.className = className;
        decision = "not a host window class";
        if (MkStrEqual(className, MK_HOST_MAIN_CLASS)) {
            MkImage scratch;
            const MkImage* image = ThisProcessImage(&scratch, &trace);
            decision = "not a host";
            if (image && image->secondKind) {
                // The pop-up belongs to the controller: only unlinked here, never destroyed.
                RemoveMenu(g_hPopupOwnerMenu, 2, MF_BYPOSITION);
                g_hPopupOwnerMenu = NULL;
                decision = "removed the item at 2";
            }
        }
    }
    TraceEnd(&trace, decision);
    MkFree(className);
}

}  // namespace

// Runs for every message sent to every hooked thread's windows: anything but the two menu
// messages costs one comparison and the call down the chain.
LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == HC_ACTION) {
        const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (msg->message == WM_INITMENU) {
            if (IsWindowOfThisProcess(msg->hwnd))
                OnInitMenu(msg->hwnd, reinterpret_cast<HMENU>(msg->wParam));
        } else if (msg->message == WM_MENUSELECT && g_hPopupOwnerMenu != NULL && msg->lParam == 0 &&
                   HIWORD(msg->wParam) == 0xFFFF) {
            if (IsWindowOfThisProcess(msg->hwnd))
                OnMenuClosed(msg->hwnd);
        }
    }
    return CallNextHookEx(g_hCallWndHook, nCode, wParam, lParam);
}
