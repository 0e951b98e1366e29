// The two notices shown for the controller, each on a thread of its own: the version box and
// the mascot's "that was a plug-in file" request, with the two exports that start them.
#include "controller_side.h"

namespace {

// Written and read by the exports and the notice threads without locks: plain 32-bit values,
// volatile so that every read goes to memory. g_hVersionThread is the running version box's
// thread, null when none runs; g_hNoticeThread the most recently started notice thread, null
// once a notice thread has finished; g_hNoticeTarget the window that receives the notices.
HANDLE volatile g_hVersionThread;
HANDLE volatile g_hNoticeThread;
HWND volatile g_hNoticeTarget;

// Shift_JIS. Line 2 is the rights line; the list of lines in the box is kept as shipped.
const char kVersionText[] =
    "Mirekko Phase 1.8(with MKP/1.3) 2001/07/24\n"
    "Copyright (C) 2001 Orbel. All rights reserved.\n"
    "\n"
    "HomePage http://www.orbel.example.jp/mirekko/\n"
    "E-Mail mirekko@orbel.example.jp";

// "バージョン情報"
const char kVersionCaption[] = "\x83o\x81[\x83W\x83\x87\x83\x93\x8f\xee\x95\xf1";

// The request is sent without a CR LF after its last header. Script: "と思ったら、Mirekko用
// プラグインファイルだったよ。\uせっかちやな。\e" (\u and \e are the mascot's own tags).
const char kNoticeFormat[] = MK_SSTP_NOTICE_REQUEST_LINE
    "\r\n"
    "Sender: " MK_SSTP_SENDER
    "\r\n"
    "Script: \x82\xc6\x8ev\x82\xc1\x82\xbd\x82\xe7\x81"
    "AMirekko\x97p\x83v\x83\x89\x83O\x83"
    "C\x83\x93\x83t\x83@\x83"
    "C\x83\x8b\x82\xbe\x82\xc1\x82\xbd\x82\xe6\x81"
    "B\\u\x82\xb9\x82\xc1\x82\xa9\x82\xbf\x82\xe2\x82\xc8\x81"
    "B\\e\r\n"
    "HWnd: %s\r\n"
    "Charset: " MK_SSTP_CHARSET;

const DWORD kVersionBufferBytes = 1024;
const DWORD kNoticeBufferBytes = 1000;
const DWORD kNoticeDelayMs = 4000;
// A mascot host that does not take the notice within this time does not get it: the thread,
// which belongs to the controller, must not wait on it for ever.
const DWORD kNoticeSendMs = 5000;
// HookExit asks the threads to end and gives them this long, all together, before it ends
// those still waiting on a mascot.
const DWORD kThreadGraceMs = 2000;
// How much longer HookExit then waits, in all, for every thread to be gone.
const DWORD kThreadEndWaitMs = 5000;
// How often HookExit looks at the threads meanwhile, and asks the version box again to close.
const DWORD kThreadPollMs = 20;
// How long HookExit then gives the trace's writer to write what is queued.
const DWORD kTraceWriterEndMs = 1000;

// The plug-in-installed request as it is sent: the record WM_COPYDATA points at, and the text.
struct NoticeRequest {
    COPYDATASTRUCT cds;
    char text[kNoticeBufferBytes];
};

// Where a thread is, as HookExit may end it. TerminateThread leaves any lock the thread holds
// held for ever: a thread killed while it frees its buffer (the heap lock) or leaves through
// the loader (the loader lock) would hang the controller in its next allocation or in
// FreeLibrary. So only a notice thread is ever terminated, and only inside its one send to
// the mascot, a wait in the kernel that it announces (kInWait); one that comes out of that
// wait after HookExit has doomed it stops there and waits to be terminated. The version box's
// thread is never terminated: MessageBoxA runs a modal loop that creates and destroys
// windows, allocates from the heap and may load input-method or theme libraries under the
// loader lock. HookExit closes its box instead, until the thread has ended. A thread that
// HookExit reaches before its wait (kCancelled) never begins it: once HookExit has begun, no
// notice goes out and no box opens.
enum : LONG { kWorking, kInWait, kDoomed, kCancelled };

// Every version-box and notice thread started and not yet reaped. The controller unloads the
// library right after HookExit, so HookExit must end all of them, not only the latest ones
// (g_hVersionThread, g_hNoticeThread): an older one still waiting would wake in unmapped
// code. Pushed and detached with interlocked exchanges, so two controller threads calling
// the exports at once lose nothing. A node outlives its thread.
struct LibraryThread {
    HANDLE hThread;
    DWORD id;
    bool versionBox;
    LONG volatile state;
    // A notice's request while it is being sent, for HookExit to free should it terminate the
    // thread; and whether the receiver reads it in place (a window of this process).
    NoticeRequest* volatile request;
    bool volatile requestReadInPlace;
    LibraryThread* pNext;
};
LibraryThread* volatile g_pThreads;

// Set by HookExit: a notice thread still in its delay ends at once and sends nothing.
HANDLE volatile g_hNoticeCancel;

// The event a waiting notice thread watches; made on first use.
HANDLE NoticeCancelEvent() {
    if (!g_hNoticeCancel) {
        HANDLE h = CreateEventA(NULL, TRUE, FALSE, NULL);
        if (h && InterlockedCompareExchangePointer(
                     reinterpret_cast<PVOID volatile*>(&g_hNoticeCancel), h, NULL) != NULL)
            CloseHandle(h);  // another thread made it first
    }
    return g_hNoticeCancel;
}

void PushThread(LibraryThread* node) {
    for (;;) {
        LibraryThread* head = g_pThreads;
        node->pNext = head;
        if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pThreads), node,
                                              head) == head)
            return;
    }
}

LibraryThread* DetachThreads() {
    return static_cast<LibraryThread*>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pThreads), NULL));
}

bool IsRunning(HANDLE hThread) {
    return WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT;
}

// Just before the thread's one wait (the notice's send, the version box). False when HookExit
// has begun: the wait is not to begin. The exchange decides it once, against HookExit's own.
bool EnterWait(LibraryThread* self) {
    return InterlockedCompareExchange(&self->state, kInWait, kWorking) == kWorking;
}
void LeaveWait(LibraryThread* self) {
    if (InterlockedCompareExchange(&self->state, kWorking, kInWait) == kDoomed) {
        // HookExit decided to terminate this thread while it waited: it touches nothing
        // (no heap, no loader) until it is terminated.
        for (;;)
            Sleep(INFINITE);
    }
}

// Asks the version box to close: the dialog window that MessageBoxA made on that thread.
BOOL CALLBACK CloseVersionBox(HWND hWnd, LPARAM) {
    char className[16];
    if (GetClassNameA(hWnd, className, sizeof className) && MkStrEqual(className, "#32770"))
        PostMessageA(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

// Starts `proc` suspended with a node of its own as its parameter, so that the caller can
// store the handle before the thread runs (and may clear it). NULL when it cannot.
LibraryThread* StartTrackedThread(LPTHREAD_START_ROUTINE proc, bool versionBox) {
    LibraryThread* node = static_cast<LibraryThread*>(MkAlloc(sizeof(LibraryThread)));
    if (!node)
        return NULL;
    node->state = kWorking;
    node->versionBox = versionBox;
    node->hThread = StartLibraryThread(proc, node, CREATE_SUSPENDED, &node->id);
    if (!node->hThread) {
        MkFree(node);
        return NULL;
    }
    return node;
}

// Remembers a started thread, so that HookExit can end it, and closes the handles of those
// that are over, except one that g_hVersionThread or g_hNoticeThread may still name. Waits
// for nothing: the controller's thread keeps serving its windows, which on 64-bit Windows
// are where every 64-bit program's hooked messages wait.
void TrackThread(LibraryThread* started) {
    LibraryThread* list = DetachThreads();
    while (list) {
        LibraryThread* node = list;
        list = list->pNext;
        if (!IsRunning(node->hThread) && node->hThread != g_hNoticeThread &&
            node->hThread != g_hVersionThread) {
            CloseHandle(node->hThread);
            MkFree(node);
        } else {
            PushThread(node);
        }
    }
    PushThread(started);
}

// "<prefix><handle>: <what>" into the trace, the handle at the width of a pointer.
void TraceAbout(const char* prefix, HWND hWnd, const char* what) {
    if (!TraceOn())
        return;
    char* line = static_cast<char*>(MkAlloc(512));
    if (line) {
        char handle[kMkDecimalBytes];
        MkDecimal(reinterpret_cast<INT_PTR>(hWnd), handle);
        wsprintfA(line, "%s%s: %.300s", prefix, handle, what);
        TraceText(line);
    }
    MkFree(line);
}

}  // namespace

void EndLibraryThreads() {
    LibraryThread* list = DetachThreads();
    // First, before anything waits: a thread that has not begun its wait will not begin it,
    // and the notices in their delay wake and send nothing.
    for (LibraryThread* node = list; node; node = node->pNext)
        InterlockedCompareExchange(&node->state, kCancelled, kWorking);
    if (g_hNoticeCancel)
        SetEvent(g_hNoticeCancel);

    // One grace period for all of them, not one each: twenty notices stuck in sends to a
    // hung mascot must not keep the controller here for forty seconds. Meanwhile the version
    // box is asked to close at every look, since a request made before MessageBoxA has made
    // the box finds nothing to close. After the grace period the notices still in their send
    // are terminated there: since none can begin its send once HookExit has begun, each of
    // them has been in it for the whole grace period, long past the few calls before the
    // kernel wait, and a send of WM_COPYDATA from a thread without windows runs nothing of
    // its own while it waits. A thread at any other point goes on to its end, which waits on
    // nobody (a notice that left its send a moment ago is freeing its buffer). Nothing of the
    // library may run once this returns: the controller unloads it next.
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        HANDLE running = NULL;
        for (LibraryThread* node = list; node; node = node->pNext) {
            if (!IsRunning(node->hThread))
                continue;
            if (node->versionBox)
                EnumThreadWindows(node->id, CloseVersionBox, 0);
            else if (spent >= kThreadGraceMs &&
                     InterlockedCompareExchange(&node->state, kDoomed, kInWait) == kInWait)
                TerminateThread(node->hThread, 0);
            running = node->hThread;
        }
        if (!running || spent >= kThreadGraceMs + kThreadEndWaitMs)
            break;
        // Messages sent to this thread are handled meanwhile: a notice to a window of this
        // very thread (the controller's own, say) waits for it, and would otherwise be
        // delivered never, only terminated.
        if (MsgWaitForMultipleObjectsEx(1, &running, kThreadPollMs, QS_SENDMESSAGE, 0) ==
            WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }

    int ended = 0, terminated = 0, left = 0;
    while (list) {
        LibraryThread* node = list;
        list = list->pNext;
        if (IsRunning(node->hThread)) {
            // Still at work after all that: its node and its reference on the library stay, so
            // that its code stays mapped until it ends.
            CloseHandle(node->hThread);
            ++left;
            continue;
        }
        if (node->state == kDoomed) {
            // A terminated thread never dropped its reference on the library, nor freed its
            // request. The system copied the request into the receiver when it sent it to
            // another process; a window of this process reads it in place and may still do so
            // after its sender is gone, so that one stays.
            FreeLibrary(g_hInstance);
            if (!node->requestReadInPlace)
                MkFree(node->request);
            ++terminated;
        } else {
            ++ended;
        }
        CloseHandle(node->hThread);
        MkFree(node);
    }
    if (g_hNoticeCancel) {
        CloseHandle(g_hNoticeCancel);
        g_hNoticeCancel = NULL;
    }
    if (TraceOn()) {
        char* line = static_cast<char*>(MkAlloc(256));
        if (line) {
            wsprintfA(line,
                      "HookExit: %d of the library's threads ended, %d terminated in their send "
                      "to a mascot that did not answer, %d still running (%d ms)",
                      ended, terminated, left, static_cast<int>(GetTickCount() - start));
            TraceText(line);
        }
        MkFree(line);
    }
    // The trace's writer goes too, with what is queued, unless a debug-output reader keeps it
    // waiting: then it keeps its reference on the library, as a thread above that would not end.
    EndTraceWriter(kTraceWriterEndMs);
}

namespace {

DWORD WINAPI VersionBoxThread(LPVOID param) {
    LibraryThread* self = static_cast<LibraryThread*>(param);
    char* text = static_cast<char*>(MkAlloc(kVersionBufferBytes));
    if (text) {
        wsprintfA(text, kVersionText);
        // Never terminated (above): HookExit closes the box, and a box that HookExit came
        // before does not open at all.
        if (EnterWait(self))
            MessageBoxA(NULL, text, kVersionCaption, MB_OK | MB_ICONINFORMATION);
        MkFree(text);
    }
    g_hVersionThread = NULL;
    FreeLibraryAndExitThread(g_hInstance, 0);
    return 0;
}

DWORD WINAPI InstalledNoticeThread(LPVOID param) {
    LibraryThread* self = static_cast<LibraryThread*>(param);
    HANDLE hCancel = NoticeCancelEvent();
    if (hCancel) {
        if (WaitForSingleObject(hCancel, kNoticeDelayMs) == WAIT_OBJECT_0)
            FreeLibraryAndExitThread(g_hInstance, 0);
    } else {
        Sleep(kNoticeDelayMs);
    }
    HWND hController = FindController(true);
    HWND hTarget = g_hNoticeTarget;
    const char* outcome = "not sent: out of memory";
    NoticeRequest* request = static_cast<NoticeRequest*>(MkAlloc(sizeof(NoticeRequest)));
    if (request) {
        // The handle as signed decimal, at the width of a pointer.
        char handle[kMkDecimalBytes];
        MkDecimal(reinterpret_cast<INT_PTR>(hController), handle);
        wsprintfA(request->text, kNoticeFormat, handle);
        COPYDATASTRUCT& cds = request->cds;
        cds.dwData = MK_SSTP_COPYDATA_ID;
        cds.cbData = static_cast<DWORD>(lstrlenA(request->text));
        cds.lpData = request->text;
        // The system copies the request into a receiver of another process as it sends it, so
        // the buffer may go whether or not a hung mascot took it in time. A window of this
        // process reads it where it lies, record and text, for as long as it handles the
        // message, which may outlast the send's limit and this thread: then both must stay.
        DWORD owner = 0;
        GetWindowThreadProcessId(hTarget, &owner);
        const bool readInPlace = owner == GetCurrentProcessId();
        self->request = request;
        self->requestReadInPlace = readInPlace;
        bool keep = false;
        if (!IsWindow(hTarget)) {
            // Handed over from outside: 0xFFFF and -1 would make the send a broadcast to every
            // top-level window, and a closed window's handle has nobody to take it.
            outcome = "not sent: no such window";
        } else if (!EnterWait(self)) {
            outcome = "not sent: HookExit has begun";
        } else {
            // One message: nothing to split.
            DWORD_PTR result;
            SetLastError(0);
            const LRESULT sent = SendMessageTimeoutA(
                hTarget, WM_COPYDATA, reinterpret_cast<WPARAM>(hController),
                reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, kNoticeSendMs, &result);
            const DWORD error = GetLastError();
            LeaveWait(self);
            if (sent) {
                outcome = "delivered";
            } else if (error == ERROR_INVALID_WINDOW_HANDLE) {
                outcome = "not sent: the window does not exist";
            } else if (readInPlace) {
                outcome =
                    "not answered within 5 s by a window of this process, which may still "
                    "be reading it: the request stays allocated";
                keep = true;
            } else {
                outcome = "not taken within 5 s: the mascot does not answer";
            }
        }
        if (!keep)
            MkFree(request);
    }
    TraceAbout("plug-in notice to ", hTarget, outcome);
    g_hNoticeThread = NULL;
    FreeLibraryAndExitThread(g_hInstance, 0);
    return 0;
}

}  // namespace

extern "C" int WINAPI MKShowVersion(void) {
    if (!g_hVersionThread) {
        LibraryThread* started = StartTrackedThread(VersionBoxThread, true);
        if (started) {
            g_hVersionThread = started->hThread;
            TrackThread(started);
            ResumeThread(started->hThread);
        }
    }
    return 0;
}

extern "C" int WINAPI MKShowMKIOK(HWND hWnd) {
    g_hNoticeTarget = hWnd;
    NoticeCancelEvent();  // before the thread waits on it
    LibraryThread* started = StartTrackedThread(InstalledNoticeThread, false);
    if (started) {
        g_hNoticeThread = started->hThread;
        TrackThread(started);
        ResumeThread(started->hThread);
    }
    return 0;
}
