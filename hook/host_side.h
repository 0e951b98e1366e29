// The library inside the mascot host, and inside every other process whose threads are
// hooked: the two hook procedures (callwnd_hook.cpp, getmsg_hook.cpp), the recognition of the
// host's processes and windows (hostid.cpp) and the trace of their decisions (trace.cpp).
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

// ---- The trace of the hook procedures' decisions ------------------------------------------

// One handled message. Begin it when a handling starts; the handling fills in what it found
// and ends it with its decision. While the trace is off (the usual case) this costs a look at
// the tick count; nothing is formatted or written.
struct MkTrace {
    bool on;
    const char* message;    // "WM_INITMENU"
    const char* className;  // the window's class, once read
    const char* image;      // the image test's answer, once asked
    LARGE_INTEGER start;
};
void TraceBegin(MkTrace* trace, const char* message);
// `decision` is a wsprintfA format with at most one int argument, e.g. "inserted at %d".
void TraceEnd(MkTrace* trace, const char* decision, int arg = 0);

// ---- Host identification ----------------------------------------------------------------

// Size of the image path buffers the callers pass to GetProcessImagePath.
#define MK_IMAGE_PATH_BYTES 260

// Copies the executable name of process `pid`, as the process snapshot reports it (a full
// path on some systems, a bare name on others), into `buffer` (MK_IMAGE_PATH_BYTES bytes).
// 1 when the process exists; 0 otherwise, the buffer then left as it was.
int GetProcessImagePath(char* buffer, DWORD pid);

// The image path of the process that owns `hwnd`, lower-cased as the image test wants it,
// into `path` (MK_IMAGE_PATH_BYTES bytes); its process identifier into `*pid`; the image
// test's answer into the trace. False when the path cannot be found; `path` is then empty, so
// that it matches no host.
bool ReadWindowImagePath(HWND hwnd, char* path, DWORD* pid, MkTrace* trace);

// The n-th window (from 1) that the host lists under a key containing "hwnd"; 0 when there
// is no such entry or no shared memory.
HWND GetMascotWindow(int n);

// The first window listed by the host that belongs to process `pid`, trying at most 999
// entries; 0 when none does.
HWND FindMascotWindowOfProcess(DWORD pid);

#endif
