// The library inside the mascot host, and inside every other process whose threads are
// hooked: the two hook procedures (callwnd_hook.cpp, getmsg_hook.cpp), the threads that send
// to the controller for them (send_threads.cpp), the recognition of the host's process and
// windows (hostid.cpp) and the trace of their decisions (trace.cpp).
// These run on the hooked program's own threads: they wait on no other process without a
// limit, read only memory they have checked, and pass every message on unchanged.
#ifndef MKHOOK_HOST_SIDE_H
#define MKHOOK_HOST_SIDE_H

#include "image_test.h"
#include "library.h"

// ---- The hook procedures, installed by HookStart --------------------------------------

LRESULT CALLBACK CallWndHookProc(int nCode, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GetMsgHookProc(int nCode, WPARAM wParam, LPARAM lParam);

// 1 after the pop-up was inserted into an "ssp.exe" context menu: the next command reaching
// that host's main window may be one of the suite's. Set by CallWndHookProc, tested and
// cleared by GetMsgHookProc; both run on the host's GUI thread, so no lock is needed.
extern LONG g_bCommandPending;

// Both procedures act only on windows of the process they run in. On 64-bit Windows a 32-bit
// global hook is also called for the windows of 64-bit programs, but inside the controller's
// process, on the thread that installed the hooks: those windows pass at once, so that the
// controller's own state stays its own and that thread is never kept waiting.
bool IsWindowOfThisProcess(HWND hwnd);

// ---- The trace of the hook procedures' decisions ------------------------------------------

// One handled message. Begin it when a handling starts; the handling fills in what it found
// and ends it with its decision. While the trace is off (the usual case) this costs a look at
// the tick count; nothing is formatted or written.
struct MkTrace {
    bool on;
    const char* message;    // "WM_INITMENU"
    const char* className;  // the window's class, once read
    const char* image;      // the image test's answer, once asked
    const char* note;       // said after the decision, when set
    LARGE_INTEGER start;
};
void TraceBegin(MkTrace* trace, const char* message);
// `decision` is a wsprintfA format with at most one int argument, e.g. "inserted at %d".
void TraceEnd(const MkTrace* trace, const char* decision, int arg = 0);

// ---- Host identification ----------------------------------------------------------------

// Characters of the image path buffers the callers pass to GetProcessImagePath.
#define MK_IMAGE_PATH_CHARS 260

// Copies the executable name of process `pid`, as the process snapshot reports it (a full
// path on some systems, a bare name on others), into `buffer` (MK_IMAGE_PATH_CHARS wide
// characters, zero-terminated). It is read in UTF-16 as the system keeps it: the ANSI snapshot
// would hand over a name the code page lacks characters for with best-fit look-alikes. 1 when
// the process exists; 0 otherwise, the buffer then left as it was.
int GetProcessImagePath(wchar_t* buffer, DWORD pid);

// The image of this process as the image test takes it: lower-cased, with the test's answers.
struct MkImage {
    wchar_t path[MK_IMAGE_PATH_CHARS];
    bool firstKind;   // "sakura.exe" or "embryo.exe"
    bool secondKind;  // "ssp.exe"
};
// Read the first time a handled message needs it, then kept for the life of the process.
// NULL while it cannot be read: then no rule matches. `scratch` holds the answer when another
// thread of the process is storing it at that moment. The answer goes into the trace.
const MkImage* ThisProcessImage(MkImage* scratch, MkTrace* trace);

// The class name of `hwnd`, and the text of the item at `position` of `hMenu`, into `text`
// (`bytes` bytes) in the ANSI code page, as the host's names are compared. They are read in
// UTF-16 and converted without best-fit substitutes: a character the code page lacks becomes
// "?", which none of the host's names holds, instead of a look-alike that could make one.
// Empty when there is nothing to read.
void ReadClassName(HWND hwnd, char* text, int bytes);
void ReadMenuItemText(HMENU hMenu, UINT position, char* text, int bytes);

// The first window listed by the host that belongs to process `pid`, trying at most 999
// entries and stopping at one that names no window; 0 when none does. The shared memory is
// read once for it.
HWND FindMascotWindowOfProcess(DWORD pid);

// For the trace: the image test's answer, and once per process the image that was read.
void TraceImage(MkTrace* trace, const MkImage* image);
void TraceImageRead(const MkTrace* trace, const wchar_t* path, const LARGE_INTEGER* start);

// ---- The threads that send to the controller ---------------------------------------------

// Sends (hwnd, msg, wParam, lParam) from a worker thread of its own, so that the host's thread
// does not wait for the controller. The worker ends `trace` (whose texts must be literals)
// with what became of the send: "forwarded" only once the controller has handled it. False
// when no worker could be started; the trace is then the caller's to end.
bool StartSendThread(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, const MkTrace* trace);

// Tells the controller about a file dropped on `hMascot`: its title becomes the first
// dropped file's path, then WM_USER+4 is sent. A worker thread makes both sends, each without
// a time limit, so that the two always arrive together, and in its turn among the drops of
// all hosts; the calling (host's) thread waits for it until `deadline` (GetTickCount) and
// serves the messages sent to it meanwhile. Returns the decision for the trace (a format
// taking `*arg`), and may set the trace's note.
const char* ForwardDrop(HDROP hDrop, HWND hMascot, DWORD deadline, MkTrace* trace, int* arg);

#endif
