// The threads that carry the host's news to the controller: one per suite command, and one
// per dropped file for the title and WM_USER+4. The host's thread never waits on the
// controller for long; these threads do, so that nothing is lost when the controller is slow,
// but they too give up after a bound, so that a controller that hangs for good does not keep
// them, and the library, in the host for good.
#include "host_side.h"

#include <shellapi.h>

namespace {

const DWORD kTextBytes = 1024;

// A command's worker waits this long for the controller to take WM_USER+0.
const DWORD kCommandSendMs = 60000;
// A drop's exchange ends within this long of the drop, forwarded or not: the worker waits for
// its turn among the drops of all hosts and for the controller to take WM_USER+4 within it.
// Longer than any other bound of the suite, so that a controller that is only slow (one that
// asks the user about the file, say) loses nothing.
const DWORD kDropExchangeMs = 60000;
// What a WM_USER+4 gets at least, should its turn come late in that time.
const DWORD kDropSendMinMs = 5000;
// How long the turn stays taken after WM_USER+4, for the controller to have its title back.
const DWORD kTitleBackMs = 5000;

// What became of a drop, besides the system's own errors (application-defined codes).
const DWORD kDropTurnLate = 0x20000001;  // its turn did not come in time
const DWORD kDropTooLong = 0x20000002;   // no form of the path fits the title
const DWORD kDropNoPath = 0x20000003;    // the path could not be converted at all

// What the trace says of a send that the system answered with `error` (0: the controller
// handled it). A format taking `*arg`.
const char* SendOutcome(DWORD error, int* arg) {
    switch (error) {
        case 0:
            return "forwarded";
        case ERROR_INVALID_WINDOW_HANDLE:
            return "no controller window";
        case ERROR_TIMEOUT:
            return "not forwarded: the controller did not take it within 60 s";
        case kDropTurnLate:
            return "not forwarded: its turn among the drops did not come within 60 s";
        case kDropTooLong:
            return "not forwarded: the path is longer than 1023 bytes in the code page and the "
                   "file has no short name that fits";
        case kDropNoPath:
            return "not forwarded: the path could not be put into the code page";
    }
    *arg = static_cast<int>(error);
    return "refused by the system (error %d)";
}

// ---- Commands ----------------------------------------------------------------------------

// Each worker gets its own copy of what to send: several can be under way at once.
struct SendRequest {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    // The host's line for this message, written once the send is over: only literals in it,
    // since the host's buffers are gone by then.
    MkTrace trace;
};

DWORD WINAPI SendThread(LPVOID param) {
    SendRequest* request = static_cast<SendRequest*>(param);
    // One message: a send that runs out of time is cancelled whole. The receiver's own last
    // error stays in its thread: what is read here is the send's.
    DWORD_PTR result = 0;
    SetLastError(0);
    DWORD error = 0;
    if (!SendMessageTimeoutA(request->hwnd, request->msg, request->wParam, request->lParam,
                             SMTO_NORMAL, kCommandSendMs, &result)) {
        error = GetLastError();
        if (error == 0)
            error = ERROR_TIMEOUT;
    }
    int arg = 0;
    const char* outcome = SendOutcome(error, &arg);
    TraceEnd(&request->trace, outcome, arg);
    MkFree(request);
    FreeLibraryAndExitThread(g_hInstance, static_cast<DWORD>(result));
    return 0;
}

// ---- Drops -------------------------------------------------------------------------------

// Who closes a drop's exchange: the host's thread while it waits; the worker once the host's
// thread has gone on without it. Whoever comes second frees it.
enum : LONG { kWaiting, kDone, kHostWentOn };

struct DropExchange {
    HWND hMascot;
    LONG volatile state;
    DWORD error;  // 0 when the controller took it; else why not
    DWORD start;  // GetTickCount when the host's thread took the drop
    MkTrace trace;
    // How the path went, for the trace (a literal, or NULL when it went as it is); set by
    // the worker before it ends.
    const char* note;
    bool unread;  // the drop handle gave no path
    // The first dropped file's path in the ANSI code page, WM_USER+4's lParam: it lives as
    // long as the exchange, until the controller has handled the message.
    char path[kTextBytes];
    // The path as the host's thread read it from the drop, in UTF-16; the rest of the
    // allocation holds it whole, however long.
    wchar_t wide[1];
};

// The 8.3 form of `path`, from the heap (MkFree), or NULL. Beyond MAX_PATH characters the
// wide call reads a path only in its "\\?\" form, and answers in that form too.
wchar_t* ShortNameOf(const wchar_t* path) {
    static const wchar_t kLocal[] = L"\\\\?\\";
    static const wchar_t kUnc[] = L"\\\\?\\UNC";
    const int length = lstrlenW(path);
    const bool unc = path[0] == L'\\' && path[1] == L'\\';
    const bool extend =
        length >= MAX_PATH && (unc ? path[2] != L'?' && path[2] != L'.' : path[1] == L':');
    // "\\server\share" becomes "\\?\UNC\server\share": one backslash of the two goes.
    const wchar_t* prefix = !extend ? L"" : unc ? kUnc : kLocal;
    const wchar_t* rest = extend && unc ? path + 1 : path;
    wchar_t* full = static_cast<wchar_t*>(MkAlloc((length + 9) * sizeof(wchar_t)));
    if (!full)
        return NULL;
    lstrcpyW(full, prefix);
    lstrcatW(full, rest);
    wchar_t* shortName = NULL;
    const DWORD size = GetShortPathNameW(full, NULL, 0);  // with the terminator
    if (size > 0)
        shortName = static_cast<wchar_t*>(MkAlloc(size * sizeof(wchar_t)));
    if (shortName) {
        const DWORD n = GetShortPathNameW(full, shortName, size);
        const int skip = !extend ? 0 : unc ? lstrlenW(kUnc) - 1 : lstrlenW(kLocal);
        if (n == 0 || n >= size || static_cast<int>(n) < skip) {
            MkFree(shortName);
            shortName = NULL;
        } else if (skip > 0) {
            // Back to the form the controller can open with the ANSI calls.
            wchar_t* to = shortName;
            for (const wchar_t* from = shortName + skip;; ++from, ++to) {
                *to = *from;
                if (!*from)
                    break;
            }
            if (unc)
                shortName[0] = L'\\';
        }
    }
    MkFree(full);
    return shortName;
}

// Puts the dropped path into x->path as the controller reads its title: in the ANSI code
// page, at most kTextBytes - 1 bytes, and never with a best-fit substitute, which would name
// another file (on code page 932 a U+00A5 in a name becomes a backslash: another folder). A
// name the code page cannot write exactly (Korean or Chinese letters, emoji or a yen sign on a
// Japanese system), or a path too long for the title, goes by the file's short name, which
// opens the same file, where it has one that the code page writes; else a name that cannot be
// written goes with "?" for those characters, which opens nothing, and a path too long does
// not go at all (x->error), rather than cut off into the name of another file. Returns what
// the trace adds, if anything. Runs in the worker: the short name of a path on a share may
// take the network's time.
const char* PathForController(DropExchange* x) {
    if (x->unread)
        return "the drop's file name could not be read";
    const MkAnsi conversion = MkToAnsi(x->wide, x->path, kTextBytes);
    if (conversion == kMkAnsiExact)
        return NULL;
    if (conversion == kMkAnsiFailed) {
        x->error = kDropNoPath;
        return NULL;
    }
    // 8.3 names may hold characters of the OEM code page, and volumes without them (other
    // volumes than the system's since Windows 8, by default; ReFS and exFAT always) give the
    // long path back: the short form is checked like the long one.
    wchar_t* shortName = ShortNameOf(x->wide);
    char* shortAnsi = static_cast<char*>(MkAlloc(kTextBytes));
    const bool byShortName =
        shortName && shortAnsi && MkToAnsi(shortName, shortAnsi, kTextBytes) == kMkAnsiExact;
    if (byShortName)
        lstrcpyA(x->path, shortAnsi);
    MkFree(shortAnsi);
    MkFree(shortName);
    if (byShortName)
        return conversion == kMkAnsiLossy
                   ? "sent by its short name, the code page cannot write the long one"
                   : "sent by its short name, the long one is longer than 1023 bytes in the code "
                     "page";
    if (conversion == kMkAnsiLossy)
        return "the code page cannot write the name and the file has no short name: the "
               "controller gets \"?\" for those characters, which opens nothing";
    x->error = kDropTooLong;
    return NULL;
}

// Whether `hWindow`'s title reads `text` (ANSI). The title as the system keeps it: no message
// goes to the window, whichever process or thread it belongs to, so a controller that does
// not serve keeps nobody waiting here.
bool TitleReads(HWND hWindow, const char* text) {
    wchar_t* title = static_cast<wchar_t*>(MkAlloc(kTextBytes * sizeof(wchar_t)));
    char* ansi = static_cast<char*>(MkAlloc(kTextBytes));
    bool same = false;
    if (title && ansi) {
        InternalGetWindowText(hWindow, title, kTextBytes);
        same = MkToAnsi(title, ansi, kTextBytes) == kMkAnsiExact && MkStrEqual(ansi, text);
    }
    MkFree(ansi);
    MkFree(title);
    return same;
}

// Waits until the controller has its title back, or is gone, at most kTitleBackMs. It may take
// it back after WM_USER+4 has returned (by a message it posts itself, say); until then the
// next drop's title must wait, or that controller would overwrite the next path with its own
// title, and the next WM_USER+4 read "MK_GETMSG_WND". On Windows nothing else orders the two:
// another process's title is set without a message.
void WaitForTitleBack(HWND hController) {
    const DWORD start = GetTickCount();
    DWORD pause = 0;
    while (IsWindow(hController) && !TitleReads(hController, MK_CONTROLLER_TITLE) &&
           GetTickCount() - start < kTitleBackMs) {
        Sleep(pause);
        pause = pause == 0 ? 1 : pause < 16 ? pause * 2 : 16;
    }
}

// The title and WM_USER+4 to the controller, in this drop's turn, by `deadline`; 0 or why not.
DWORD HandOver(const DropExchange* x, DWORD deadline) {
    // Looked up in the turn, when the exchange before has ended and the controller has its
    // title back; one lookup for both, since the title is the path after the first.
    HWND hController = FindController(false);
    if (!hController)
        return ERROR_INVALID_WINDOW_HANDLE;
    // SetWindowTextA, as the controller has always had its path: for a window of another
    // process Windows changes the title itself and sends no message (a WM_SETTEXT reaches the
    // window procedure only when it is sent), so the title set keeps this thread waiting on
    // nothing, and a controller reads the path from its title when WM_USER+4 comes. Wine sends
    // WM_SETTEXT instead and waits for the controller to handle it.
    SetLastError(0);
    if (!SetWindowTextA(hController, x->path)) {
        const DWORD error = GetLastError();
        if (error != 0)
            return error;  // 0: delivered, but the controller's window said no
    }
    // WM_USER+4 is the one message of the exchange: sent with a bound, it is either handled
    // or, the bound passed before the controller took it, cancelled whole.
    LONG left = static_cast<LONG>(deadline - GetTickCount());
    if (left < static_cast<LONG>(kDropSendMinMs))
        left = kDropSendMinMs;
    DWORD_PTR answer;
    SetLastError(0);
    if (SendMessageTimeoutA(hController, MK_WM_DROPFILE, reinterpret_cast<WPARAM>(x->hMascot),
                            reinterpret_cast<LPARAM>(x->path), SMTO_NORMAL, static_cast<UINT>(left),
                            &answer)) {
        WaitForTitleBack(hController);
        return 0;
    }
    DWORD error = GetLastError();
    if (error == 0)
        error = ERROR_TIMEOUT;
    // The title must not stay this drop's path: the lookup by title would no longer find the
    // controller. Unless the controller has set it since, it gets its title back.
    if (TitleReads(hController, x->path))
        SetWindowTextA(hController, MK_CONTROLLER_TITLE);
    return error;
}

DWORD WINAPI DropThread(LPVOID param) {
    DropExchange* x = static_cast<DropExchange*>(param);
    x->note = PathForController(x);
    if (x->error == 0) {
        // All hosts share the controller, and it reads the path from its one title: a second
        // title set before the first WM_USER+4 was handled and the title taken back would have
        // both read the second path. So one exchange at a time, across processes, from the
        // title until the controller has its title back. The turn, the send and the title
        // have their bounds (the controller is another process, and so is the host that holds
        // the turn). A host that ended in the middle of its exchange leaves the mutex
        // abandoned, and the system hands it over all the same (WAIT_ABANDONED): the next
        // title replaces whatever that host had set. A mutex that cannot be had (one made by
        // a host at another integrity level, say) leaves the exchange unserialised.
        const DWORD deadline = x->start + kDropExchangeMs;
        HANDLE hTurn = CreateMutexA(NULL, FALSE, MK_DROP_MUTEX_NAME);
        bool myTurn = !hTurn;
        if (hTurn) {
            LONG left = static_cast<LONG>(deadline - GetTickCount());
            const DWORD wait = WaitForSingleObject(hTurn, left > 0 ? static_cast<DWORD>(left) : 0);
            myTurn = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
        x->error = myTurn ? HandOver(x, deadline) : kDropTurnLate;
        if (hTurn) {
            if (myTurn)
                ReleaseMutex(hTurn);
            CloseHandle(hTurn);
        }
    }
    const DWORD error = x->error;
    if (InterlockedExchange(&x->state, kDone) == kHostWentOn) {
        // The host's thread stopped waiting long ago; its trace line said so, this one says
        // how it ended.
        x->trace.note = x->note;
        const int ms = static_cast<int>(GetTickCount() - x->start);
        if (error == 0)
            TraceEnd(&x->trace,
                     "controller slow: forwarded after %d ms, the host went on after 5 s", ms);
        else if (error == ERROR_INVALID_WINDOW_HANDLE)
            TraceEnd(&x->trace,
                     "controller slow, then gone: not forwarded; the host went on after 5 s");
        else if (error == kDropTurnLate || error == ERROR_TIMEOUT)
            TraceEnd(&x->trace,
                     "controller slow: not forwarded, given up after %d ms; the host went on "
                     "after 5 s",
                     ms);
        else if (error == kDropTooLong || error == kDropNoPath)
            TraceEnd(&x->trace,
                     "not forwarded: no form of the path fits the title; the host went on "
                     "after 5 s");
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

bool StartSendThread(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, const MkTrace* trace) {
    SendRequest* request = static_cast<SendRequest*>(MkAlloc(sizeof(SendRequest)));
    if (!request)
        return false;
    request->hwnd = hwnd;
    request->msg = msg;
    request->wParam = wParam;
    request->lParam = lParam;
    request->trace = *trace;
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
    // Only the drop handle's text is read here, on the host's thread (the handle is the
    // host's, freed once it has handled the drop); the rest is the worker's.
    const UINT chars = DragQueryFileW(hDrop, 0, NULL, 0);
    DropExchange* x =
        static_cast<DropExchange*>(MkAlloc(sizeof(DropExchange) + chars * sizeof(wchar_t)));
    if (!x)
        return "out of memory";
    x->hMascot = hMascot;
    x->state = kWaiting;
    x->start = GetTickCount();
    x->unread = chars == 0 || DragQueryFileW(hDrop, 0, x->wide, chars + 1) == 0;
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
    trace->note = x->note;
    MkFree(x);
    return SendOutcome(error, arg);
}
