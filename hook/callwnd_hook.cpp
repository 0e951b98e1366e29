// The WH_CALLWNDPROC hook procedure: puts the suite's pop-up into the mascot host's context
// menu while the menu is being initialised, and for "ssp.exe" takes it out at the close.
#include "hook_state.h"
#include "hostid.h"
#include "mkhook_internal.h"

HMENU g_hPopupOwnerMenu;
LONG g_bCommandPending;

namespace {

const DWORD kTextBytes = 1024;

// Shift_JIS: "開発用インターフェース(&D)", the first item of the first kind of host's
// developer menu, after which the suite's item goes further down.
const char kDeveloperMenuItem[] =
    "\x8a\x4a\x94\xad\x97\x70\x83\x43\x83\x93\x83\x5e\x81\x5b\x83\x74\x83\x46\x81\x5b\x83\x58"
    "(&D)";
// Shift_JIS: "ヘッドライン(&H)", the first item of the "ssp.exe" context menu.
const char kHeadlineMenuItem[] = "\x83\x77\x83\x62\x83\x68\x83\x89\x83\x43\x83\x93(&H)";
const char kSuiteItemCaption[] = "Mirekko(&F)";

// How long the host's menu waits for the controller's pop-up. A controller that does not
// answer in time gets no item in this opening of the menu, rather than a frozen mascot.
const DWORD kPopupRequestMs = 2000;

// Asks the controller for the suite's pop-up (WM_USER+3); the host's thread waits for the
// answer while its menu is opening.
HMENU RequestPopup() {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(FindController(), MK_WM_GETPOPUP, 0, 0, SMTO_ABORTIFHUNG,
                             kPopupRequestMs, &answer))
        answer = 0;
    HMENU hPopup = reinterpret_cast<HMENU>(answer);
    g_hMenu = hPopup;
    return hPopup;
}

bool ReadImagePath(HWND hwnd, char* path) {
    DWORD pid;
    return ReadWindowImagePath(hwnd, path, &pid);
}

// Without a pop-up (no controller, or a null answer) there is nothing to show: the item is
// not inserted, and nothing is recorded for removal either.
bool InsertSuiteItem(HWND hwnd, HMENU hMenu, UINT position) {
    HMENU hPopup = RequestPopup();
    if (!hPopup)
        return false;
    if (!InsertMenuA(hMenu, position, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(hPopup),
                     kSuiteItemCaption))
        return false;
    DrawMenuBar(hwnd);
    return true;
}

void OnInitMenu(HWND hwnd, HMENU hMenu) {
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    char* firstItem = static_cast<char*>(MkAlloc(kTextBytes));
    char* path = static_cast<char*>(MkAlloc(MK_IMAGE_PATH_BYTES));
    if (className && firstItem && path) {
        GetClassNameA(hwnd, className, kTextBytes);
        GetMenuStringA(hMenu, 0, firstItem, kTextBytes, MF_BYPOSITION);
        if (GetMenuItemCount(hMenu) > 5 && MkStrEqual(className, "TPUtilWindow")) {
            if (ReadImagePath(hwnd, path) && MkIsFirstKindHost(path, MK_IMAGE_PATH_BYTES)) {
                UINT position = MkStrEqual(firstItem, kDeveloperMenuItem) ? 4 : 2;
                InsertSuiteItem(hwnd, hMenu, position);
            }
        } else if (MkStrEqual(firstItem, kHeadlineMenuItem) && MkStrEqual(className, "Tmainform")) {
            if (ReadImagePath(hwnd, path) && MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES)) {
                // Recorded only once the item is really in the menu: the close removes
                // whatever sits at position 2, which would otherwise be one of the host's.
                if (InsertSuiteItem(hwnd, hMenu, 2)) {
                    g_bCommandPending = 1;
                    g_hPopupOwnerMenu = hMenu;
                }
            }
        }
    }
    MkFree(path);
    MkFree(firstItem);
    MkFree(className);
}

void OnMenuClosed(HWND hwnd) {
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    char* path = static_cast<char*>(MkAlloc(MK_IMAGE_PATH_BYTES));
    if (className && path) {
        GetClassNameA(hwnd, className, kTextBytes);
        if (MkStrEqual(className, "Tmainform") && ReadImagePath(hwnd, path) &&
            MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES)) {
            // The pop-up belongs to the controller: only unlinked here, never destroyed.
            RemoveMenu(g_hPopupOwnerMenu, 2, MF_BYPOSITION);
            g_hPopupOwnerMenu = NULL;
        }
    }
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
