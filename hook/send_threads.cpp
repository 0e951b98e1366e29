// The threads that carry the host's news to the controller: one per suite command, and one
// per dropped file for the title and WM_USER+4. The host's thread never waits on the
// controller without a limit; these threads do, so that nothing is lost when the controller
// is slow.
#include "host_side.h"

#include <shellapi.h>

namespace {

const DWORD kTextBytes = 1024;

// What the trace says of a send that the system answered with `error` (0: the controller
// handled it). A format taking `*arg`.
const char* SendOutcome(DWORD error, int* arg) {
    if (error == 0)
        return "forwarded";
    if (error == ERROR_INVALID_WINDOW_HANDLE)
        return "no controller window";
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
    // The receiver's own last error stays in its thread: what is read here is the send's.
    SetLastError(0);
    LRESULT result = SendMessageA(request->hwnd, request->msg, request->wParam, request->lParam);
    int arg = 0;
    const char* outcome = SendOutcome(GetLastError(), &arg);
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
    DWORD error;  // 0 when both sends went through; else what the system refused them with
    DWORD start;  // GetTickCount when the host's thread took the drop
    MkTrace trace;
    // The first dropped file's path, WM_USER+4's lParam: it lives as long as the exchange,
    // until the controller has handled the message.
    char path[kTextBytes];
};

// The title and WM_USER+4 to the controller, in this drop's turn; 0 or the system's error.
DWORD HandOver(const DropExchange* x) {
    // Looked up in the turn, when the exchange before has ended and the controller has its
    // title back; one lookup for both sends, since the title is the path after the first.
    HWND hController = FindController();
    if (!hController)
        return ERROR_INVALID_WINDOW_HANDLE;
    // SetWindowTextA, as the controller has always had its path: for a window of another
    // process Windows changes the title itself and sends no message (the documented
    // behaviour; a WM_SETTEXT reaches the window procedure only when it is sent), so the title
    // set cannot keep this thread waiting, and a controller reads the path from its title when
    // WM_USER+4 comes. Wine sends WM_SETTEXT instead and waits for the controller; nothing is
    // cancelled either way: both messages arrive, in their order, or neither does.
    SetLastError(0);
    if (!SetWindowTextA(hController, x->path)) {
        const DWORD error = GetLastError();
        if (error != 0)
            return error;  // 0: delivered, but the controller's window said no
    }
    SetLastError(0);
    SendMessageA(hController, MK_WM_DROPFILE, reinterpret_cast<WPARAM>(x->hMascot),
                 reinterpret_cast<LPARAM>(x->path));
    return GetLastError();
}

DWORD WINAPI DropThread(LPVOID param) {
    DropExchange* x = static_cast<DropExchange*>(param);
    // All hosts share the controller, and it reads the path from its one title: a second title
    // set before the first WM_USER+4 was handled would have both read the second path. So one
    // exchange at a time, across processes, from the title through the end of WM_USER+4. Only
    // this thread waits for its turn, without a limit as for its sends; the host's thread
    // keeps its own bound. A host that ended in the middle of its exchange leaves the mutex
    // abandoned, and the system hands it over all the same (WAIT_ABANDONED): the next title
    // replaces whatever that host had set. A mutex that cannot be had (one made by a host at
    // another integrity level, say) leaves the exchange unserialised, as it always was.
    HANDLE hTurn = CreateMutexA(NULL, FALSE, MK_DROP_MUTEX_NAME);
    bool myTurn = false;
    if (hTurn) {
        const DWORD wait = WaitForSingleObject(hTurn, INFINITE);
        myTurn = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
    const DWORD error = HandOver(x);
    if (myTurn)
        ReleaseMutex(hTurn);
    if (hTurn)
        CloseHandle(hTurn);
    x->error = error;
    if (InterlockedExchange(&x->state, kDone) == kHostWentOn) {
        // The host's thread stopped waiting long ago; its trace line said so, this one says
        // how it ended.
        const int ms = static_cast<int>(GetTickCount() - x->start);
        if (error == 0)
            TraceEnd(&x->trace,
                     "controller slow: forwarded after %d ms, the host went on after 5 s", ms);
        else if (error == ERROR_INVALID_WINDOW_HANDLE)
            TraceEnd(&x->trace,
                     "controller slow, then gone: not forwarded; the host went on "
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

// A wide path in the ANSI code page, as the controller reads its title.
enum Conversion { kExact, kLossy, kTooLong, kFailed };

// Converts `wide` into `ansi` (kTextBytes bytes): kExact; kLossy when a character has no
// exact form in the code page (`ansi` then holds "?" for it); kTooLong when the exact form
// needs more than kTextBytes bytes with its terminator (`ansi` then holds nothing usable).
Conversion ToAnsi(const wchar_t* wide, char* ansi) {
    // Without best-fit substitutes, which would name another file. A system whose code page
    // is UTF-8 writes every character, and takes neither the flag nor the question.
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL lost = FALSE;
    int n = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, ansi, kTextBytes,
                                NULL, utf8 ? NULL : &lost);
    if (n > 0)
        return lost ? kLossy : kExact;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kTooLong : kFailed;
}

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

// The first dropped file's path in the ANSI code page, at most kTextBytes - 1 bytes, as the
// controller reads its title. A name the code page cannot write (Korean or Chinese letters,
// emoji on a Japanese system) would arrive with "?" in it and open nothing, and one too long
// for the buffer would arrive cut off, naming another file or none; the file's short name,
// where it has one that the code page writes, opens the same file. Returns what the trace
// should add, if anything; `*refusal` is set, and nothing is to be sent, when the path cannot
// go whole.
const char* ReadDroppedPath(HDROP hDrop, char* path, const char** refusal) {
    *refusal = NULL;
    const char* note = NULL;
    // The whole path, however long: only then can its length in the code page be told.
    const UINT chars = DragQueryFileW(hDrop, 0, NULL, 0);
    wchar_t* wide = chars ? static_cast<wchar_t*>(MkAlloc((chars + 1) * sizeof(wchar_t))) : NULL;
    Conversion conversion = kFailed;
    if (wide && DragQueryFileW(hDrop, 0, wide, chars + 1))
        conversion = ToAnsi(wide, path);
    bool done = conversion == kExact;
    if (conversion == kLossy || conversion == kTooLong) {
        // 8.3 names may hold characters of the OEM code page, and volumes without them
        // (other volumes than the system's since Windows 8, by default; ReFS and exFAT
        // always) give the long path back: the short form is checked like the long one.
        wchar_t* shortName = ShortNameOf(wide);
        char* shortAnsi = static_cast<char*>(MkAlloc(kTextBytes));
        done = shortName && shortAnsi && ToAnsi(shortName, shortAnsi) == kExact;
        if (done) {
            lstrcpyA(path, shortAnsi);
            note = conversion == kLossy
                       ? "sent by its short name, the code page cannot write the long one"
                       : "sent by its short name, the long one is longer than 1023 bytes in the "
                         "code page";
        } else if (conversion == kLossy) {
            note =
                "the code page cannot write the name and the file has no short name: the "
                "controller gets \"?\" for those characters and cannot open it";
        } else {
            *refusal =
                "not forwarded: the path is longer than 1023 bytes in the code page and "
                "the file has no short name that fits";
            done = true;
        }
        MkFree(shortAnsi);
        MkFree(shortName);
    }
    MkFree(wide);
    if (done)
        return note;
    // Otherwise the lossy form, as the ANSI call gives it (it writes "?" where the code page
    // has no character); a drop handle that cannot be read yields an empty path.
    if (conversion == kFailed && DragQueryFileA(hDrop, 0, NULL, 0) >= kTextBytes) {
        *refusal = "not forwarded: the path is longer than 1023 bytes in the code page";
        return note;
    }
    if (!DragQueryFileA(hDrop, 0, path, kTextBytes)) {
        path[0] = 0;
        note = "the drop's file name could not be read";
    }
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
    DropExchange* x = static_cast<DropExchange*>(MkAlloc(sizeof(DropExchange)));
    if (!x)
        return "out of memory";
    x->hMascot = hMascot;
    x->state = kWaiting;
    x->start = GetTickCount();
    const char* refusal;
    trace->note = ReadDroppedPath(hDrop, x->path, &refusal);
    if (refusal) {
        MkFree(x);
        return refusal;
    }
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
    return SendOutcome(error, arg);
}
