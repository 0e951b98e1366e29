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
DWORD g_dwVersionThreadId;

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
    "HWnd: %ld\r\n"
    "Charset: " MK_SSTP_CHARSET;

const DWORD kVersionBufferBytes = 1024;
const DWORD kNoticeBufferBytes = 1000;
const DWORD kNoticeDelayMs = 4000;
// A mascot host that does not take the notice within this time does not get it: the thread,
// which belongs to the controller, must not wait on it for ever.
const DWORD kNoticeSendMs = 5000;
// HookExit asks the threads to end and gives them this long, all together, before it
// terminates those still running.
// Terminating a thread that is freeing its buffer or leaving through the loader would leave
// the heap or loader lock held and hang the controller, so that is the last resort, for a
// thread stuck in a send to a hung window.
const DWORD kThreadGraceMs = 2000;
// How long HookExit then waits, in all, for the terminated threads to be gone (termination is
// asynchronous).
const DWORD kThreadEndWaitMs = 5000;

// Every notice thread started and not yet reaped. The controller unloads the library right
// after HookExit, so HookExit must end all of them, not only the latest (g_hNoticeThread):
// an older one still waiting would wake in unmapped code. Pushed and detached with
// interlocked exchanges, so two controller threads calling MKShowMKIOK lose nothing.
struct NoticeThread {
    HANDLE hThread;
    NoticeThread* pNext;
};
NoticeThread* volatile g_pNoticeThreads;

// The last version-box thread started; its handle stays open until the next box or HookExit.
HANDLE g_hLastVersionThread;

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

void PushNoticeThread(NoticeThread* node) {
    for (;;) {
        NoticeThread* head = g_pNoticeThreads;
        node->pNext = head;
        if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pNoticeThreads),
                                              node, head) == head)
            return;
    }
}

NoticeThread* DetachNoticeThreads() {
    return static_cast<NoticeThread*>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pNoticeThreads), NULL));
}

bool IsRunning(HANDLE hThread) {
    return WaitForSingleObject(hThread, 0) == WAIT_TIMEOUT;
}

// Milliseconds left of `budget` since `start`.
DWORD Remaining(DWORD start, DWORD budget) {
    DWORD spent = GetTickCount() - start;
    return spent < budget ? budget - spent : 0;
}

// Calls fn for the version box's thread, if there is one, then for each listed notice thread.
template <typename Fn>
void ForEachThread(HANDLE hVersion, NoticeThread* list, Fn fn) {
    if (hVersion)
        fn(hVersion);
    for (NoticeThread* node = list; node; node = node->pNext)
        fn(node->hThread);
}

BOOL CALLBACK CloseThreadWindow(HWND hWnd, LPARAM) {
    PostMessageA(hWnd, WM_CLOSE, 0, 0);
    return TRUE;
}

// Remember a started notice thread, so that HookExit can end it, and close the handles of
// those that are over, except the one g_hNoticeThread may still name (HookExit must never see
// a closed handle there).
void TrackNoticeThread(HANDLE hThread) {
    NoticeThread* list = DetachNoticeThreads();
    while (list) {
        NoticeThread* node = list;
        list = list->pNext;
        if (!IsRunning(node->hThread) && node->hThread != g_hNoticeThread) {
            CloseHandle(node->hThread);
            MkFree(node);
        } else {
            PushNoticeThread(node);
        }
    }
    NoticeThread* node = static_cast<NoticeThread*>(MkAlloc(sizeof(NoticeThread)));
    if (node) {
        node->hThread = hThread;
        PushNoticeThread(node);
    }
}

}  // namespace

void EndLibraryThreads() {
    // Ask every thread to end: a waiting notice wakes and sends nothing, a version box closes
    // and lets its thread return from MessageBoxA. g_hVersionThread, when set, is
    // g_hLastVersionThread; a box that was closed already may still be leaving its thread
    // procedure, so it is waited for all the same. g_hNoticeThread is always one of the
    // listed handles.
    if (g_hNoticeCancel)
        SetEvent(g_hNoticeCancel);
    if (g_hLastVersionThread && g_hVersionThread)
        EnumThreadWindows(g_dwVersionThreadId, CloseThreadWindow, 0);
    HANDLE hVersion = g_hLastVersionThread;
    NoticeThread* list = DetachNoticeThreads();

    // One grace period for all of them, not one each: twenty notices stuck in sends to a
    // hung mascot must not keep the controller here for forty seconds.
    DWORD start = GetTickCount();
    ForEachThread(hVersion, list,
                  [&](HANDLE h) { WaitForSingleObject(h, Remaining(start, kThreadGraceMs)); });
    ForEachThread(hVersion, list, [](HANDLE h) {
        if (IsRunning(h))
            TerminateThread(h, 0);
    });
    // Termination is asynchronous, and the controller unloads the library next: nothing of
    // ours may still run then.
    start = GetTickCount();
    ForEachThread(hVersion, list, [&](HANDLE h) {
        WaitForSingleObject(h, Remaining(start, kThreadEndWaitMs));
        CloseHandle(h);
    });

    g_hLastVersionThread = NULL;
    while (list) {
        NoticeThread* node = list;
        list = list->pNext;
        MkFree(node);
    }
    if (g_hNoticeCancel) {
        CloseHandle(g_hNoticeCancel);
        g_hNoticeCancel = NULL;
    }
}

namespace {

// The version box's thread handle stays open until the next box or HookExit.
void TrackVersionThread(HANDLE hThread) {
    // A new box starts only after the previous one cleared g_hVersionThread: that thread is
    // over or about to be.
    if (g_hLastVersionThread) {
        WaitForSingleObject(g_hLastVersionThread, kThreadEndWaitMs);
        CloseHandle(g_hLastVersionThread);
    }
    g_hLastVersionThread = hThread;
}

DWORD WINAPI VersionBoxThread(LPVOID) {
    char* text = static_cast<char*>(MkAlloc(kVersionBufferBytes));
    if (text) {
        wsprintfA(text, kVersionText);
        MessageBoxA(NULL, text, kVersionCaption, MB_OK | MB_ICONINFORMATION);
        MkFree(text);
    }
    g_hVersionThread = NULL;
    return 0;
}

DWORD WINAPI InstalledNoticeThread(LPVOID) {
    HANDLE hCancel = NoticeCancelEvent();
    if (hCancel) {
        if (WaitForSingleObject(hCancel, kNoticeDelayMs) == WAIT_OBJECT_0)
            return 0;
    } else {
        Sleep(kNoticeDelayMs);
    }
    HWND hController = FindController();
    char* request = static_cast<char*>(MkAlloc(kNoticeBufferBytes));
    if (request) {
        wsprintfA(request, kNoticeFormat,
                  static_cast<long>(reinterpret_cast<LONG_PTR>(hController)));
        COPYDATASTRUCT cds;
        cds.dwData = MK_SSTP_COPYDATA_ID;
        cds.cbData = static_cast<DWORD>(lstrlenA(request));
        cds.lpData = request;
        // The system copies the request into the receiver, so the buffer may go whether or
        // not a hung mascot took it in time.
        DWORD_PTR result;
        SendMessageTimeoutA(g_hNoticeTarget, WM_COPYDATA, reinterpret_cast<WPARAM>(hController),
                            reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, kNoticeSendMs,
                            &result);
        MkFree(request);
    }
    g_hNoticeThread = NULL;
    return 0;
}

}  // namespace

extern "C" int WINAPI MKShowVersion(void) {
    if (!g_hVersionThread) {
        // Started suspended so that the handle is stored before the thread can clear it.
        HANDLE hThread =
            CreateThread(NULL, 0, VersionBoxThread, NULL, CREATE_SUSPENDED, &g_dwVersionThreadId);
        g_hVersionThread = hThread;
        if (hThread) {
            TrackVersionThread(hThread);
            ResumeThread(hThread);
        }
    }
    return 0;
}

extern "C" int WINAPI MKShowMKIOK(HWND hWnd) {
    g_hNoticeTarget = hWnd;
    NoticeCancelEvent();  // before the thread waits on it
    HANDLE hThread = CreateThread(NULL, 0, InstalledNoticeThread, NULL, CREATE_SUSPENDED, NULL);
    g_hNoticeThread = hThread;
    if (hThread) {
        TrackNoticeThread(hThread);
        ResumeThread(hThread);
    }
    return 0;
}
