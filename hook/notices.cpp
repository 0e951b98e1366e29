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
// The version box's thread, for closing its box at HookExit.
DWORD volatile g_dwVersionThreadId;

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
// those still waiting on a window.
const DWORD kThreadGraceMs = 2000;
// How long HookExit then waits, in all, for every thread to be gone.
const DWORD kThreadEndWaitMs = 5000;

// Where a thread is, as HookExit may end it. TerminateThread leaves any lock the thread holds
// held for ever: a thread killed while it frees its buffer (the heap lock) or leaves through
// the loader (the loader lock) would hang the controller in its next allocation or in
// FreeLibrary. So a thread is only ever terminated inside its one wait on another window (the
// notice's send, the version box), which it announces; a thread that comes out of that wait
// after HookExit has doomed it stops there and waits to be terminated.
enum : LONG { kWorking, kInWait, kDoomed };

// Every version-box and notice thread started and not yet reaped. The controller unloads the
// library right after HookExit, so HookExit must end all of them, not only the latest ones
// (g_hVersionThread, g_hNoticeThread): an older one still waiting would wake in unmapped
// code. Pushed and detached with interlocked exchanges, so two controller threads calling
// the exports at once lose nothing. A node outlives its thread.
struct LibraryThread {
    HANDLE hThread;
    LONG volatile state;
    LibraryThread* pNext;
};
LibraryThread* volatile g_pThreads;

// Set by HookExit: a notice thread still in its wait ends at once and sends nothing.
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

// Milliseconds left of `budget` since `start`.
DWORD Remaining(DWORD start, DWORD budget) {
    DWORD spent = GetTickCount() - start;
    return spent < budget ? budget - spent : 0;
}

// Around the thread's one wait on another window.
void EnterWait(LibraryThread* self) {
    InterlockedExchange(&self->state, kInWait);
}
void LeaveWait(LibraryThread* self) {
    if (InterlockedCompareExchange(&self->state, kWorking, kInWait) == kDoomed) {
        // HookExit decided to terminate this thread while it waited: it touches nothing
        // (no heap, no loader) until it is terminated.
        for (;;)
            Sleep(INFINITE);
    }
}

BOOL CALLBACK CloseThreadWindow(HWND hWnd, LPARAM) {
    PostMessageA(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

// Starts `proc` suspended with a node of its own as its parameter, so that the caller can
// store the handle before the thread runs (and may clear it). NULL when it cannot.
LibraryThread* StartTrackedThread(LPTHREAD_START_ROUTINE proc, DWORD* id) {
    LibraryThread* node = static_cast<LibraryThread*>(MkAlloc(sizeof(LibraryThread)));
    if (!node)
        return NULL;
    node->state = kWorking;
    node->hThread = StartLibraryThread(proc, node, CREATE_SUSPENDED, id);
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

}  // namespace

void EndLibraryThreads() {
    // Ask every thread to end: a waiting notice wakes and sends nothing, a version box closes
    // and lets its thread return from MessageBoxA.
    if (g_hNoticeCancel)
        SetEvent(g_hNoticeCancel);
    if (g_hVersionThread)
        EnumThreadWindows(g_dwVersionThreadId, CloseThreadWindow, 0);
    LibraryThread* list = DetachThreads();

    // One grace period for all of them, not one each: twenty notices stuck in sends to a
    // hung mascot must not keep the controller here for forty seconds.
    DWORD start = GetTickCount();
    for (LibraryThread* node = list; node; node = node->pNext)
        WaitForSingleObject(node->hThread, Remaining(start, kThreadGraceMs));

    // Then those still in their wait on another window are terminated; any other goes on to
    // its end, which takes no wait on anybody (a notice that left its send a moment ago is
    // freeing its buffer). A thread that enters its wait late is terminated there. Nothing of
    // the library may run once this returns: the controller unloads it next.
    start = GetTickCount();
    for (;;) {
        HANDLE running = NULL;
        for (LibraryThread* node = list; node; node = node->pNext) {
            if (!IsRunning(node->hThread))
                continue;
            if (InterlockedCompareExchange(&node->state, kDoomed, kInWait) == kInWait)
                TerminateThread(node->hThread, 0);
            running = node->hThread;
        }
        const DWORD left = Remaining(start, kThreadEndWaitMs);
        if (!running || left == 0)
            break;
        WaitForSingleObject(running, left < 20 ? left : 20);
    }

    while (list) {
        LibraryThread* node = list;
        list = list->pNext;
        if (IsRunning(node->hThread)) {
            // Still at work after all that: its node and its reference on the library stay, so
            // that its code stays mapped until it ends.
            CloseHandle(node->hThread);
            continue;
        }
        // A terminated thread never dropped its reference on the library.
        if (node->state == kDoomed)
            FreeLibrary(g_hInstance);
        CloseHandle(node->hThread);
        MkFree(node);
    }
    if (g_hNoticeCancel) {
        CloseHandle(g_hNoticeCancel);
        g_hNoticeCancel = NULL;
    }
}

namespace {

DWORD WINAPI VersionBoxThread(LPVOID param) {
    LibraryThread* self = static_cast<LibraryThread*>(param);
    char* text = static_cast<char*>(MkAlloc(kVersionBufferBytes));
    if (text) {
        wsprintfA(text, kVersionText);
        EnterWait(self);
        MessageBoxA(NULL, text, kVersionCaption, MB_OK | MB_ICONINFORMATION);
        LeaveWait(self);
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
    HWND hController = FindController();
    char* request = static_cast<char*>(MkAlloc(kNoticeBufferBytes));
    if (request) {
        // The handle as signed decimal, at the width of a pointer.
        char handle[kMkDecimalBytes];
        MkDecimal(reinterpret_cast<INT_PTR>(hController), handle);
        wsprintfA(request, kNoticeFormat, handle);
        COPYDATASTRUCT cds;
        cds.dwData = MK_SSTP_COPYDATA_ID;
        cds.cbData = static_cast<DWORD>(lstrlenA(request));
        cds.lpData = request;
        // The system copies the request into the receiver, so the buffer may go whether or
        // not a hung mascot took it in time. One message: nothing to split.
        DWORD_PTR result;
        EnterWait(self);
        SendMessageTimeoutA(g_hNoticeTarget, WM_COPYDATA, reinterpret_cast<WPARAM>(hController),
                            reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, kNoticeSendMs,
                            &result);
        LeaveWait(self);
        MkFree(request);
    }
    g_hNoticeThread = NULL;
    FreeLibraryAndExitThread(g_hInstance, 0);
    return 0;
}

}  // namespace

extern "C" int WINAPI MKShowVersion(void) {
    if (!g_hVersionThread) {
        DWORD id;
        LibraryThread* started = StartTrackedThread(VersionBoxThread, &id);
        if (started) {
            g_dwVersionThreadId = id;
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
    LibraryThread* started = StartTrackedThread(InstalledNoticeThread, NULL);
    if (started) {
        g_hNoticeThread = started->hThread;
        TrackThread(started);
        ResumeThread(started->hThread);
    }
    return 0;
}
