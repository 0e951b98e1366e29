// The threads that carry the host's news to the controller: one per suite command, and one
// per dropped file for the title and WM_USER+4. The host's thread never waits on the
// controller without a limit; these threads do, so that nothing is lost when the controller
// is slow.
#include "host_side.h"

#include <shellapi.h>

namespace {

const DWORD kTextBytes = 1024;

// ---- Commands ----------------------------------------------------------------------------

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
    FreeLibraryAndExitThread(g_hInstance, static_cast<DWORD>(result));
    return 0;
}

// ---- Drops -------------------------------------------------------------------------------

// Who closes a drop's exchange: the host's thread while it waits; the worker once the host's
// thread has gone on without it. Whoever comes second frees it.
enum : LONG { kWaiting, kDone, kHostWentOn };

struct DropExchange {
    HWND hController;
    HWND hMascot;
    LONG volatile state;
    DWORD error;  // 0 when both sends went through; else what the system refused them with
    DWORD start;  // GetTickCount when the host's thread took the drop
    MkTrace trace;
    // The first dropped file's path, WM_USER+4's lParam: it lives as long as the exchange,
    // until the controller has handled the message.
    char path[kTextBytes];
};

DWORD WINAPI DropThread(LPVOID param) {
    DropExchange* x = static_cast<DropExchange*>(param);
    // On Windows SetWindowTextA sets another process's window title without a message; under
    // Wine it sends WM_SETTEXT and waits for the controller. Either way this thread may wait
    // here, and nothing is cancelled: both messages arrive, in their order, or neither does.
    SetLastError(0);
    DWORD error = 0;
    if (!SetWindowTextA(x->hController, x->path))
        error = GetLastError();  // 0: delivered, but the controller's window said no
    if (error == 0) {
        SetLastError(0);
        SendMessageA(x->hController, MK_WM_DROPFILE, reinterpret_cast<WPARAM>(x->hMascot),
                     reinterpret_cast<LPARAM>(x->path));
        error = GetLastError();
    }
    x->error = error;
    if (InterlockedExchange(&x->state, kDone) == kHostWentOn) {
        // The host's thread stopped waiting long ago; its trace line said so, this one says
        // how it ended.
        const int ms = static_cast<int>(GetTickCount() - x->start);
        if (error == 0)
            TraceEnd(&x->trace,
                     "controller slow: forwarded after %d ms, the host went on after 5 s", ms);
        else
            TraceEnd(&x->trace,
                     "controller slow, then refused by the system (error %d); the host went on "
                     "after 5 s",
                     static_cast<int>(error));
        MkFree(x);
    }
    FreeLibraryAndExitThread(g_hInstance, error);
    return 0;
}

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
// plain ASCII and opens the same file. Returns what the trace should add, if anything.
const char* ReadDroppedPath(HDROP hDrop, char* path) {
    wchar_t* wide = static_cast<wchar_t*>(MkAlloc(kTextBytes * sizeof(wchar_t)));
    wchar_t* shortName = static_cast<wchar_t*>(MkAlloc(kTextBytes * sizeof(wchar_t)));
    const char* note = NULL;
    bool done = false;
    if (wide && shortName && DragQueryFileW(hDrop, 0, wide, kTextBytes)) {
        done = ToAnsiExactly(wide, path);
        if (!done) {
            // Volumes without 8.3 names (the default on other volumes than the system's since
            // Windows 8; ReFS and exFAT have none) give the long path back: no rescue there.
            DWORD n = GetShortPathNameW(wide, shortName, kTextBytes);
            done = n > 0 && n < kTextBytes && ToAnsiExactly(shortName, path);
            note = done ? "sent by its short name, the code page cannot write the long one"
                        : "the code page cannot write the name and the file has no short name: "
                          "the controller gets \"?\" for those characters and cannot open it";
        }
    }
    // Otherwise the lossy form, as the ANSI call gives it; a drop handle that cannot be read
    // yields an empty path.
    if (!done && !DragQueryFileA(hDrop, 0, path, kTextBytes)) {
        path[0] = 0;
        note = "the drop's file name could not be read";
    }
    MkFree(shortName);
    MkFree(wide);
    return note;
}

// Waits until hThread has ended or `deadline` has come, and meanwhile lets the messages other
// threads send to this one be handled: a controller that has the mascot speak while it takes
// the drop waits for this thread. Posted messages stay queued. True when the thread ended.
bool WaitServingSentMessages(HANDLE hThread, DWORD deadline) {
    for (;;) {
        const LONG left = static_cast<LONG>(deadline - GetTickCount());
        if (left <= 0)
            return WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0;
        DWORD r = MsgWaitForMultipleObjectsEx(1, &hThread, static_cast<DWORD>(left), QS_SENDMESSAGE,
                                              MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0)
            return true;
        if (r != WAIT_OBJECT_0 + 1)
            return false;
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

bool StartSendThread(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    SendRequest* request = static_cast<SendRequest*>(MkAlloc(sizeof(SendRequest)));
    if (!request)
        return false;
    request->hwnd = hwnd;
    request->msg = msg;
    request->wParam = wParam;
    request->lParam = lParam;
    HANDLE hThread = StartLibraryThread(SendThread, request, 0, NULL);
    if (!hThread) {
        MkFree(request);
        return false;
    }
    // Nobody waits for a worker or reads its exit code.
    CloseHandle(hThread);
    return true;
}

const char* ForwardDrop(HDROP hDrop, HWND hMascot, DWORD deadline, MkTrace* trace, int* arg) {
    // One lookup for both sends: once the title is the path, the window is no longer found
    // by it.
    HWND hController = FindController();
    if (!hController)
        return "no controller window";
    DropExchange* x = static_cast<DropExchange*>(MkAlloc(sizeof(DropExchange)));
    if (!x)
        return "out of memory";
    x->hController = hController;
    x->hMascot = hMascot;
    x->state = kWaiting;
    x->start = GetTickCount();
    trace->note = ReadDroppedPath(hDrop, x->path);
    // The worker may write its line after the host's buffers are gone: only literals in it.
    x->trace = *trace;
    x->trace.className = MK_HOST_MAIN_CLASS;
    HANDLE hThread = StartLibraryThread(DropThread, x, 0, NULL);
    if (!hThread) {
        MkFree(x);
        return "no worker thread";
    }
    const bool ended = WaitServingSentMessages(hThread, deadline);
    CloseHandle(hThread);
    if (!ended && InterlockedExchange(&x->state, kHostWentOn) == kWaiting)
        return "controller slow: the host went on after 5 s; the worker forwards the drop when "
               "the controller serves again";
    const DWORD error = x->error;
    MkFree(x);
    if (error == 0)
        return "forwarded";
    if (error == ERROR_INVALID_WINDOW_HANDLE)
        return "no controller window";
    *arg = static_cast<int>(error);
    return "refused by the system (error %d)";
}
