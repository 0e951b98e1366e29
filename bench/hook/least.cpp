// The benchmark's floor for the handled messages: the least pair of hooks that does the same
// job as mkhook for the windows of its own thread, with no identification (no class names, no
// process image) and no trace.
//   - WM_INITMENU: ask the controller for its pop-up (WM_USER+3), insert it at position 2 and
//     remember the menu; the close notification removes position 2 again.
//   - WM_COMMAND 1000 and above: read "Sakura" once (straight from the view, no copy), find
//     the first listed window of this process, and send WM_USER+0 from a thread of its own.
//   - WM_DROPFILES: the same list read, then the title and WM_USER+4 from a thread of its own
//     that the host's thread waits for (MK_SYNC_DROP: sent from the host's thread itself, as
//     the drop was sent before it had to survive a slow controller).
#include <windows.h>
#include <shellapi.h>

#include "mirekko/protocol.h"

namespace {

HINSTANCE g_hInstance;
HHOOK g_hCallWndHook;
HHOOK g_hGetMsgHook;
HMENU g_hOwner;

const char kCaption[] = "Mirekko(&F)";

HWND Controller() {
    return FindWindowA(NULL, MK_CONTROLLER_TITLE);
}

// The first window listed under a key containing "hwnd" that belongs to this process.
HWND ListedWindowOfThisProcess() {
    HWND found = NULL;
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, MK_HOST_SHARED_MEMORY);
    if (!mapping)
        return NULL;
    const unsigned char* view =
        static_cast<const unsigned char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 65536));
    if (view) {
        const DWORD self = GetCurrentProcessId();
        unsigned pos = 4;
        while (!found && pos < 65536 && view[pos]) {
            unsigned soh = pos;
            while (soh < 65536 && view[soh] && view[soh] != 1)
                ++soh;
            if (soh >= 65536 || view[soh] != 1)
                break;
            bool hwnd = false;
            for (unsigned k = pos; k + 4 <= soh; ++k)
                hwnd = hwnd || (view[k] == 'h' && view[k + 1] == 'w' && view[k + 2] == 'n' &&
                                view[k + 3] == 'd');
            unsigned cr = soh + 1;
            int value = 0;
            while (cr < 65536 && view[cr] >= '0' && view[cr] <= '9')
                value = value * 10 + (view[cr++] - '0');
            while (cr < 65536 && view[cr] && view[cr] != '\r')
                ++cr;
            if (hwnd) {
                HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
                DWORD owner = 0;
                GetWindowThreadProcessId(window, &owner);
                if (owner == self)
                    found = window;
            }
            pos = cr + 2;
        }
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return found;
}

struct Send {
    HWND controller;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    char path[1024];
};

DWORD WINAPI SendThread(LPVOID param) {
    Send* send = static_cast<Send*>(param);
    if (send->msg == MK_WM_DROPFILE)
        SetWindowTextA(send->controller, send->path);
    SendMessageA(send->controller, send->msg, send->wParam,
                 send->msg == MK_WM_DROPFILE ? reinterpret_cast<LPARAM>(send->path) : send->lParam);
    HeapFree(GetProcessHeap(), 0, send);
    return 0;
}

HANDLE StartSend(HWND mascot, UINT msg, LPARAM id, HDROP drop) {
    Send* send = static_cast<Send*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Send)));
    send->controller = Controller();
    send->msg = msg;
    send->wParam = reinterpret_cast<WPARAM>(mascot);
    send->lParam = id;
    if (drop)
        DragQueryFileA(drop, 0, send->path, sizeof send->path);
#ifdef MK_SYNC_DROP
    if (drop) {
        SendThread(send);
        return NULL;
    }
#endif
    return CreateThread(NULL, 0, SendThread, send, 0, NULL);
}

LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (nCode == HC_ACTION && msg->message == WM_INITMENU) {
        HMENU popup = reinterpret_cast<HMENU>(SendMessageA(Controller(), MK_WM_GETPOPUP, 0, 0));
        HMENU menu = reinterpret_cast<HMENU>(msg->wParam);
        if (popup && InsertMenuA(menu, 2, MF_BYPOSITION | MF_POPUP,
                                 reinterpret_cast<UINT_PTR>(popup), kCaption))
            g_hOwner = menu;
    } else if (nCode == HC_ACTION && msg->message == WM_MENUSELECT && g_hOwner &&
               msg->lParam == 0 && HIWORD(msg->wParam) == 0xFFFF) {
        RemoveMenu(g_hOwner, 2, MF_BYPOSITION);
        g_hOwner = NULL;
    }
    return CallNextHookEx(g_hCallWndHook, nCode, wParam, lParam);
}

LRESULT CALLBACK GetMsgHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (msg->message == WM_DROPFILES ||
        (msg->message == WM_COMMAND && LOWORD(msg->wParam) >= 1000)) {
        if (HWND mascot = ListedWindowOfThisProcess()) {
            const bool drop = msg->message == WM_DROPFILES;
            HANDLE thread =
                StartSend(mascot, drop ? MK_WM_DROPFILE : MK_WM_COMMAND, LOWORD(msg->wParam),
                          drop ? reinterpret_cast<HDROP>(msg->wParam) : NULL);
            if (thread && drop)
                WaitForSingleObject(thread, 5000);
            if (thread)
                CloseHandle(thread);
        }
    }
    return CallNextHookEx(g_hGetMsgHook, nCode, wParam, lParam);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD, LPVOID) {
    g_hInstance = hInstance;
    return TRUE;
}

extern "C" HHOOK WINAPI HookStart(DWORD dwThreadId, DWORD) {
    g_hCallWndHook = SetWindowsHookExA(WH_CALLWNDPROC, CallWndHookProc, g_hInstance, dwThreadId);
    g_hGetMsgHook = SetWindowsHookExA(WH_GETMESSAGE, GetMsgHookProc, g_hInstance, dwThreadId);
    return g_hCallWndHook;
}

extern "C" int WINAPI HookExit(void) {
    UnhookWindowsHookEx(g_hGetMsgHook);
    UnhookWindowsHookEx(g_hCallWndHook);
    return 0;
}
