// The WH_GETMESSAGE hook procedure: tells the controller about files dropped on the mascot
// and about the suite's commands chosen from the mascot host's context menu.
#include "host_side.h"

#include <shellapi.h>

namespace {

// 1 when the next drop on an "ssp.exe" main window is to pass unforwarded.
LONG g_bSkipNextDrop;

const DWORD kTextBytes = 1024;

// Each worker gets its own copy of what to send: several can be under way at once.
struct SendRequest {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

DWORD WINAPI SendThread(LPVOID param) {
    SendRequest request = *static_cast<SendRequest*>(param);
    MkFree(param);
    LRESULT result = SendMessageA(request.hwnd, request.msg, request.wParam, request.lParam);
    // Drops the reference StartSendThread took for this thread. The hooks may have been
    // removed and the library unmapped from the host while the controller was handling the
    // message; holding the reference until here keeps this code mapped until it is done.
    FreeLibraryAndExitThread(g_hInstance, static_cast<DWORD>(result));
    return 0;
}

// The controller gets this long, for the title and WM_USER+4 together, before the host's
// thread goes on without it: a controller that hangs must not freeze the mascot.
const DWORD kDropSendMs = 5000;

// WideCharToMultiByte for the ANSI code page without best-fit substitutes; false when a
// character had no exact form there (or the result does not fit).
bool ToAnsiExactly(const wchar_t* wide, char* ansi) {
    BOOL lost = FALSE;
    int n =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, kTextBytes, NULL, &lost);
    return n > 0 && !lost;
}

// The first dropped file's path in the ANSI code page, as the controller reads its title. A
// name the code page cannot write (Korean or Chinese letters, emoji on a Japanese system)
// would arrive with "?" in it and open nothing; its short name, where the file has one, is
// plain ASCII and opens the same file.
void ReadDroppedPath(HDROP hDrop, char* path) {
    wchar_t* wide = static_cast<wchar_t*>(MkAlloc(kTextBytes * sizeof(wchar_t)));
    wchar_t* shortName = static_cast<wchar_t*>(MkAlloc(kTextBytes * sizeof(wchar_t)));
    bool done = false;
    if (wide && shortName && DragQueryFileW(hDrop, 0, wide, kTextBytes)) {
        done = ToAnsiExactly(wide, path);
        if (!done) {
            DWORD n = GetShortPathNameW(wide, shortName, kTextBytes);
            done = n > 0 && n < kTextBytes && ToAnsiExactly(shortName, path);
        }
    }
    // Otherwise the lossy form, as the ANSI call gives it; a drop handle that cannot be read
    // yields an empty path.
    if (!done && !DragQueryFileA(hDrop, 0, path, kTextBytes))
        path[0] = 0;
    MkFree(shortName);
    MkFree(wide);
}

// Puts the first dropped file's path into the controller's title and sends WM_USER+4, whose
// lParam points at the path in this process. Returns the decision, for the trace.
const char* ForwardDrop(HDROP hDrop, HWND hMascot) {
    HWND hController = FindController();
    char* path = static_cast<char*>(MkAlloc(kTextBytes));
    if (!path)
        return "out of memory";
    ReadDroppedPath(hDrop, path);
    const DWORD start = GetTickCount();
    DWORD_PTR result;
    // SetWindowTextA on another process's window is this same send, without a time limit.
    SendMessageTimeoutA(hController, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path),
                        SMTO_ABORTIFHUNG, kDropSendMs, &result);
    const DWORD spent = GetTickCount() - start;
    if (spent < kDropSendMs &&
        SendMessageTimeoutA(hController, MK_WM_DROPFILE, reinterpret_cast<WPARAM>(hMascot),
                            reinterpret_cast<LPARAM>(path), SMTO_ABORTIFHUNG, kDropSendMs - spent,
                            &result)) {
        MkFree(path);
        return "forwarded";
    }
    if (!IsWindow(hController)) {
        MkFree(path);
        return "no controller window";
    }
    // The message stays queued for a controller that did not answer in time, and it may still
    // read the path at lParam when it wakes: the 1 KiB buffer is left to it, a leak that
    // happens only with a controller that hangs.
    return "controller did not answer";
}

// Sends (hwnd, msg, wParam, lParam) from a worker thread of its own, so that the host's thread
// does not wait for the controller. False when no worker could be started.
bool StartSendThread(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    SendRequest* request = static_cast<SendRequest*>(MkAlloc(sizeof(SendRequest)));
    if (!request)
        return false;
    request->hwnd = hwnd;
    request->msg = msg;
    request->wParam = wParam;
    request->lParam = lParam;
    // The worker's reference on this library, taken before the thread exists so that there
    // is no moment in which the library could be unmapped under it.
    HMODULE hSelf = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&SendThread), &hSelf)) {
        MkFree(request);
        return false;
    }
    DWORD threadId;
    HANDLE hThread = CreateThread(NULL, 0, SendThread, request, 0, &threadId);
    if (hThread) {
        // Nobody waits for a worker or reads its exit code.
        CloseHandle(hThread);
        return true;
    }
    MkFree(request);
    FreeLibrary(hSelf);
    return false;
}

void OnDropFiles(HWND hwnd, HDROP hDrop) {
    MkTrace trace;
    TraceBegin(&trace, "WM_DROPFILES");
    const char* decision = "out of memory";
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    if (className) {
        GetClassNameA(hwnd, className, kTextBytes);
        trace.className = className;
        // Only the host's main window takes drops; other windows cost no image lookup.
        const bool mainForm = MkStrEqual(className, MK_HOST_MAIN_CLASS);
        decision = mainForm ? "out of memory" : "not a host window class";
        char* path = mainForm ? static_cast<char*>(MkAlloc(MK_IMAGE_PATH_BYTES)) : NULL;
        if (path) {
            DWORD pid;
            ReadWindowImagePath(hwnd, path, &pid, &trace);  // an unknown path counts as empty
            decision = "not a host";
            if (MkIsFirstKindHost(path, MK_IMAGE_PATH_BYTES)) {
                HWND hMascot = FindMascotWindowOfProcess(pid);
                decision = hMascot ? ForwardDrop(hDrop, hMascot) : "no mascot window listed";
            }
            const bool secondKind = MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES);
            if (secondKind && g_bSkipNextDrop == 0) {
                decision = ForwardDrop(hDrop, hwnd);
                g_bSkipNextDrop = 1;
            } else {
                if (secondKind)
                    decision = "let pass (alternation)";
                g_bSkipNextDrop = 0;
            }
            MkFree(path);
        }
    }
    TraceEnd(&trace, decision);
    MkFree(className);
}

// Starts the worker that sends a suite command to the controller; returns the decision.
const char* ForwardCommand(HWND hMascot, UINT id) {
    return StartSendThread(FindController(), MK_WM_COMMAND, reinterpret_cast<WPARAM>(hMascot), id)
               ? "forwarded"
               : "no worker thread";
}

void OnCommand(HWND hwnd, UINT id) {
    MkTrace trace;
    TraceBegin(&trace, "WM_COMMAND");
    const char* decision = "out of memory";
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    if (className) {
        GetClassNameA(hwnd, className, kTextBytes);
        trace.className = className;
        const bool utilWindow = MkStrEqual(className, MK_HOST_MENU_CLASS);
        const bool mainForm = !utilWindow && MkStrEqual(className, MK_HOST_MAIN_CLASS);
        decision = "not a host window class";
        if (utilWindow && id < MK_FIRST_SUITE_COMMAND) {
            // The host's own commands never go to the controller: for the first kind of host
            // they are dismissed before the list of mascot windows is read.
            decision = "the host's own command (below 1000)";
        } else if (utilWindow || mainForm) {
            char* path = static_cast<char*>(MkAlloc(MK_IMAGE_PATH_BYTES));
            decision = "out of memory";
            if (path) {
                DWORD pid;
                ReadWindowImagePath(hwnd, path, &pid, &trace);  // an unknown path counts as empty
                decision = "not a host";
                if (utilWindow) {
                    if (MkIsFirstKindHost(path, MK_IMAGE_PATH_BYTES)) {
                        HWND hMascot = FindMascotWindowOfProcess(pid);
                        decision =
                            hMascot ? ForwardCommand(hMascot, id) : "no mascot window listed";
                    }
                } else if (MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES)) {
                    // Only the first command after the pop-up went into the menu can be the
                    // suite's; whatever it is, the next ones are the host's own.
                    decision = "no pop-up inserted since the last command";
                    if (g_bCommandPending == 1) {
                        decision = id >= MK_FIRST_SUITE_COMMAND
                                       ? ForwardCommand(hwnd, id)
                                       : "the host's own command (below 1000)";
                        g_bCommandPending = 0;
                    }
                }
                MkFree(path);
            }
        }
    }
    TraceEnd(&trace, decision);
    MkFree(className);
}

}  // namespace

// Runs for every message retrieved by every hooked thread: anything but a drop or a command
// costs one comparison and the call down the chain. Peeked and removed messages count alike.
LRESULT CALLBACK GetMsgHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (msg->message == WM_DROPFILES) {
        OnDropFiles(msg->hwnd, reinterpret_cast<HDROP>(msg->wParam));
    } else if (msg->message == WM_COMMAND) {
        OnCommand(msg->hwnd, LOWORD(msg->wParam));
    }
    return CallNextHookEx(g_hGetMsgHook, nCode, wParam, lParam);
}
