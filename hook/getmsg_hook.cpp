// The WH_GETMESSAGE hook procedure: tells the controller about files dropped on the mascot
// and about the suite's commands chosen from the mascot host's context menu.
#include "host_side.h"

namespace {

// 1 when the next drop on an "ssp.exe" main window is to pass unforwarded.
LONG g_bSkipNextDrop;

const DWORD kTextBytes = 1024;

// The controller gets this long for a drop, in all, before the host's thread goes on without
// it: a controller that hangs must not freeze the mascot.
const DWORD kDropWaitMs = 5000;

void OnDropFiles(HWND hwnd, HDROP hDrop) {
    MkTrace trace;
    TraceBegin(&trace, "WM_DROPFILES");
    const char* decision = "out of memory";
    int arg = 0;
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    if (className) {
        ReadClassName(hwnd, className, kTextBytes);
        trace.className = className;
        decision = "not a host window class";
        // Only the host's main window takes drops; other windows cost no image lookup.
        if (MkStrEqual(className, MK_HOST_MAIN_CLASS)) {
            MkImage scratch;
            const MkImage* image = ThisProcessImage(&scratch, &trace);  // unknown: no host
            const bool firstKind = image && image->firstKind;
            const bool secondKind = image && image->secondKind;
            // Every "ssp.exe" drop flips the alternation, any other resets it. Decided before
            // anything waits on the controller: a drop taken while this one waits (the host's
            // thread serves sent messages meanwhile, and a nested loop may retrieve one) must
            // find the state this drop leaves.
            const bool forwardSecond = secondKind && g_bSkipNextDrop == 0;
            g_bSkipNextDrop = forwardSecond ? 1 : 0;
            const DWORD deadline = GetTickCount() + kDropWaitMs;
            decision = "not a host";
            if (firstKind) {
                HWND hMascot = FindMascotWindowOfProcess(GetCurrentProcessId());
                decision = hMascot ? ForwardDrop(hDrop, hMascot, deadline, &trace, &arg)
                                   : "no mascot window listed";
            }
            if (forwardSecond)
                decision = ForwardDrop(hDrop, hwnd, deadline, &trace, &arg);
            else if (secondKind)
                decision = "let pass (alternation)";
        }
    }
    TraceEnd(&trace, decision, arg);
    MkFree(className);
}

// Starts the worker that sends a suite command to the controller. Returns the decision, or
// NULL when the worker says it once the controller has the command (or could not take it).
const char* ForwardCommand(HWND hMascot, UINT id, MkTrace* trace, const char* className) {
    HWND hController = FindController(false);
    if (!hController)
        return "no controller window";
    trace->className = className;  // the worker writes the line after this buffer is gone
    return StartSendThread(hController, MK_WM_COMMAND, reinterpret_cast<WPARAM>(hMascot), id, trace)
               ? NULL
               : "no worker thread";
}

void OnCommand(HWND hwnd, UINT id) {
    MkTrace trace;
    TraceBegin(&trace, "WM_COMMAND");
    const char* decision = "out of memory";
    char* className = static_cast<char*>(MkAlloc(kTextBytes));
    if (className) {
        ReadClassName(hwnd, className, kTextBytes);
        trace.className = className;
        const bool utilWindow = MkStrEqual(className, MK_HOST_MENU_CLASS);
        const bool mainForm = !utilWindow && MkStrEqual(className, MK_HOST_MAIN_CLASS);
        decision = "not a host window class";
        if (utilWindow && id < MK_FIRST_SUITE_COMMAND) {
            // The host's own commands never go to the controller: for the first kind of host
            // they are dismissed before the list of mascot windows is read.
            decision = "the host's own command (below 1000)";
        } else if (utilWindow || mainForm) {
            MkImage scratch;
            const MkImage* image = ThisProcessImage(&scratch, &trace);  // unknown: no host
            decision = "not a host";
            if (utilWindow) {
                if (image && image->firstKind) {
                    HWND hMascot = FindMascotWindowOfProcess(GetCurrentProcessId());
                    decision = hMascot ? ForwardCommand(hMascot, id, &trace, MK_HOST_MENU_CLASS)
                                       : "no mascot window listed";
                }
            } else if (image && image->secondKind) {
                // Only the first command after the pop-up went into the menu can be the
                // suite's; whatever it is, the next ones are the host's own.
                decision = "no pop-up inserted since the last command";
                if (g_bCommandPending == 1) {
                    g_bCommandPending = 0;
                    decision = id >= MK_FIRST_SUITE_COMMAND
                                   ? ForwardCommand(hwnd, id, &trace, MK_HOST_MAIN_CLASS)
                                   : "the host's own command (below 1000)";
                }
            }
        }
    }
    if (decision)
        TraceEnd(&trace, decision);
    MkFree(className);
}

}  // namespace

// Runs for every message retrieved by every hooked thread: anything but a drop or a command
// costs a few comparisons and the call down the chain. A negative code passes straight on,
// its record unread, as the hook's contract asks. A message is acted on once, when it leaves
// the queue (wParam PM_REMOVE): a host that peeks at it first with PM_NOREMOVE brings it here
// twice, and a drop forwarded at the peek would go twice, the "ssp.exe" alternation flip
// twice and the pending command be spent on a look.
LRESULT CALLBACK GetMsgHookProc(int nCode, WPARAM wParam, LPARAM lParam) {
    if (nCode == HC_ACTION && (wParam & PM_REMOVE)) {
        const MSG* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg->message == WM_DROPFILES) {
            if (IsWindowOfThisProcess(msg->hwnd))
                OnDropFiles(msg->hwnd, reinterpret_cast<HDROP>(msg->wParam));
        } else if (msg->message == WM_COMMAND) {
            if (IsWindowOfThisProcess(msg->hwnd))
                OnCommand(msg->hwnd, LOWORD(msg->wParam));
        }
    }
    return CallNextHookEx(g_hGetMsgHook, nCode, wParam, lParam);
}
