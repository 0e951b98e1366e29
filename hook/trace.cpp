// The trace of the hook procedures' decisions. A user whose mascot shows no "Mirekko(&F)", or
// whose drops go nowhere, can learn why: while the switch object exists, each handled message
// writes one line that debuggers, DebugView and mktrace.exe show. In the controller's process
// the notices and HookExit say in the same way how they ended.
//
// No hooked thread writes a line itself. OutputDebugStringA waits without a limit for the
// system's debug-output mutex, and up to 10 s per line for a reader to take the one before:
// a reader that stops reading, or any program that holds the mutex, would freeze every hooked
// program. The lines go into a queue of fixed size instead, and a thread of the library writes
// them out; when the queue is full, a line is dropped and counted, and the count is written
// once the writer catches up.
#include "host_side.h"

namespace {

// The switch is looked for at most this often per process: a kernel call for every handled
// message would cost the host more than the handling itself.
const DWORD kSwitchCheckMs = 500;
const DWORD kLineBytes = 512;
const unsigned kQueueLines = 64;
// The writer ends after this long without a line, so that it keeps the library mapped in a
// process only while there is something to write.
const DWORD kWriterIdleMs = 1000;
const DWORD kWriterPollMs = 10;

// Per process, written and read without locks by whichever hooked thread handles a message:
// a stale answer only delays the switch by one period.
DWORD volatile g_dwSwitchCheckedAt;
bool volatile g_bSwitchChecked;
bool volatile g_bTraceOn;

// The queue: a ring of lines under a slim lock, which is only ever held to copy one line in
// or out. Zero-initialised with the library, as SRWLOCK_INIT is.
SRWLOCK g_queueLock;
char g_queue[kQueueLines][kLineBytes];
unsigned g_queueHead;
unsigned g_queueCount;
LONG volatile g_lLinesDropped;
// 1 while a writer thread runs, so that at most one does; g_lWriterHurry asks it to write
// what is queued and end without waiting out its idle time.
LONG volatile g_lWriterRunning;
LONG volatile g_lWriterHurry;

bool Dequeue(char* line) {
    AcquireSRWLockExclusive(&g_queueLock);
    const bool got = g_queueCount > 0;
    if (got) {
        lstrcpynA(line, g_queue[g_queueHead], kLineBytes);
        g_queueHead = (g_queueHead + 1) % kQueueLines;
        --g_queueCount;
    }
    ReleaseSRWLockExclusive(&g_queueLock);
    return got;
}

bool QueueEmpty() {
    AcquireSRWLockExclusive(&g_queueLock);
    const bool empty = g_queueCount == 0;
    ReleaseSRWLockExclusive(&g_queueLock);
    return empty;
}

DWORD WINAPI TraceWriterThread(LPVOID) {
    char line[kLineBytes];
    DWORD lastLine = GetTickCount();
    for (;;) {
        if (Dequeue(line)) {
            OutputDebugStringA(line);
            lastLine = GetTickCount();
            continue;
        }
        const LONG dropped = InterlockedExchange(&g_lLinesDropped, 0);
        if (dropped) {
            wsprintfA(line,
                      "mkhook: %ld trace lines dropped here: the debug output was not read "
                      "fast enough",
                      dropped);
            OutputDebugStringA(line);
            continue;
        }
        if (g_lWriterHurry || GetTickCount() - lastLine >= kWriterIdleMs) {
            InterlockedExchange(&g_lWriterRunning, 0);
            // A line queued after the last look saw a writer running and started none.
            if (QueueEmpty() || InterlockedCompareExchange(&g_lWriterRunning, 1, 0) != 0)
                break;
            continue;
        }
        Sleep(kWriterPollMs);
    }
    FreeLibraryAndExitThread(g_hInstance, 0);
    return 0;
}

// Queues a whole line; never waits on anything but the queue's lock.
void Enqueue(const char* line) {
    AcquireSRWLockExclusive(&g_queueLock);
    if (g_queueCount == kQueueLines) {
        InterlockedIncrement(&g_lLinesDropped);
    } else {
        lstrcpynA(g_queue[(g_queueHead + g_queueCount) % kQueueLines], line, kLineBytes);
        ++g_queueCount;
    }
    ReleaseSRWLockExclusive(&g_queueLock);
    if (InterlockedCompareExchange(&g_lWriterRunning, 1, 0) == 0) {
        HANDLE hWriter = StartLibraryThread(TraceWriterThread, NULL, 0, NULL);
        if (hWriter)
            CloseHandle(hWriter);
        else
            InterlockedExchange(&g_lWriterRunning, 0);  // the next line tries again
    }
}

}  // namespace

bool TraceOn() {
    DWORD now = GetTickCount();
    if (!g_bSwitchChecked || now - g_dwSwitchCheckedAt >= kSwitchCheckMs) {
        HANDLE hSwitch = OpenEventA(SYNCHRONIZE, FALSE, MK_TRACE_SWITCH_NAME);
        g_bTraceOn = hSwitch != NULL;
        if (hSwitch)
            CloseHandle(hSwitch);
        g_dwSwitchCheckedAt = now;
        g_bSwitchChecked = true;
    }
    return g_bTraceOn;
}

bool EndTraceWriter(DWORD waitMs) {
    InterlockedExchange(&g_lWriterHurry, 1);
    const DWORD start = GetTickCount();
    while (g_lWriterRunning) {
        if (GetTickCount() - start >= waitMs)
            return false;
        // Messages sent to this thread meanwhile are handled, as in every wait of HookExit.
        MsgWaitForMultipleObjectsEx(0, NULL, kWriterPollMs, QS_SENDMESSAGE, 0);
        MSG msg;
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return true;
}

namespace {

DWORD MicrosSince(const LARGE_INTEGER* start) {
    LARGE_INTEGER end, frequency;
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    if (frequency.QuadPart <= 0)
        return 0;
    return static_cast<DWORD>((end.QuadPart - start->QuadPart) * 1000000 / frequency.QuadPart);
}

}  // namespace

void TraceBegin(MkTrace* trace, const char* message) {
    trace->on = TraceOn();
    trace->message = message;
    trace->className = "";
    trace->image = "-";
    trace->note = NULL;
    if (trace->on)
        QueryPerformanceCounter(&trace->start);
}

void TraceEnd(const MkTrace* trace, const char* decision, int arg) {
    if (!trace->on)
        return;
    const DWORD micros = MicrosSince(&trace->start);
    char* what = static_cast<char*>(MkAlloc(kLineBytes));
    char* line = static_cast<char*>(MkAlloc(kLineBytes * 2));
    if (what && line) {
        wsprintfA(what, decision, arg);
        wsprintfA(line, "mkhook: %s class=%.64s image=%s: %.200s%s%.300s (%lu us)", trace->message,
                  trace->className, trace->image, what, trace->note ? "; " : "",
                  trace->note ? trace->note : "", micros);
        Enqueue(line);
    }
    MkFree(line);
    MkFree(what);
}

void TraceText(const char* text) {
    if (!TraceOn())
        return;
    char* line = static_cast<char*>(MkAlloc(kLineBytes));
    if (line) {
        wsprintfA(line, "mkhook: %.400s", text);
        Enqueue(line);
    }
    MkFree(line);
}

void TraceImage(MkTrace* trace, const MkImage* image) {
    if (trace->on)
        trace->image = !image              ? "not found"
                       : image->firstKind  ? MK_HOST_IMAGE_SAKURA "|" MK_HOST_IMAGE_EMBRYO
                       : image->secondKind ? MK_HOST_IMAGE_SSP
                                           : "none";
}

void TraceImageRead(const MkTrace* trace, const wchar_t* path, const LARGE_INTEGER* start) {
    if (!trace->on)
        return;
    const DWORD micros = MicrosSince(start);
    char* ansi = static_cast<char*>(MkAlloc(MK_IMAGE_PATH_CHARS * 4));
    char* line = static_cast<char*>(MkAlloc(kLineBytes));
    if (ansi && line) {
        if (MkToAnsi(path, ansi, MK_IMAGE_PATH_CHARS * 4) >= kMkAnsiTooLong)
            lstrcpyA(ansi, "(a name the code page cannot hold)");
        wsprintfA(line,
                  "mkhook: the image of this process, read once for its life: %.300s (%lu us)",
                  ansi, micros);
        Enqueue(line);
    }
    MkFree(line);
    MkFree(ansi);
}
