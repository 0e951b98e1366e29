// The trace of the hook procedures' decisions. A user whose mascot shows no "Mirekko(&F)", or
// whose drops go nowhere, can learn why: while the switch object exists, each handled message
// writes one line that debuggers, DebugView and mktrace.exe show. In the controller's process
// the notices and HookExit say in the same way how they ended.
#include "host_side.h"

namespace {

// The switch is looked for at most this often per process: a kernel call for every handled
// message would cost the host more than the handling itself.
const DWORD kSwitchCheckMs = 500;
const DWORD kLineBytes = 512;

// Per process, written and read without locks by whichever hooked thread handles a message:
// a stale answer only delays the switch by one period.
DWORD volatile g_dwSwitchCheckedAt;
bool volatile g_bSwitchChecked;
bool volatile g_bTraceOn;

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
        OutputDebugStringA(line);
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
        OutputDebugStringA(line);
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

void TraceImageRead(const MkTrace* trace, const char* path, const LARGE_INTEGER* start) {
    if (!trace->on)
        return;
    char* line = static_cast<char*>(MkAlloc(kLineBytes));
    if (line) {
        wsprintfA(line,
                  "mkhook: the image of this process, read once for its life: %.260s (%lu us)",
                  path, MicrosSince(start));
        OutputDebugStringA(line);
    }
    MkFree(line);
}
