// mktrace: shows what the hook library decides inside the programs it hooks. It switches the
// library's trace on (by holding the kernel object whose existence is the switch), prints the
// debug output of every process of the session, the library's lines and others, until it is
// stopped (Ctrl+C, or the end of its standard input), and switches the trace off again by
// letting the object go.
//
// Usage: mktrace [--listen]
//   --listen   print the debug output only, without switching the trace on
// Each line: "<pid> <text>", the text converted from Shift_JIS to UTF-8.
#include <windows.h>

#include <cstring>
#include <string>

#include "lineio.h"
#include "mirekko/protocol.h"
#include "text.h"

using namespace mk::tools;

namespace {

HANDLE g_stop;

BOOL WINAPI OnConsoleControl(DWORD) {
    SetEvent(g_stop);
    return TRUE;
}

// Standard input ending (a pipe closed by whoever started us) stops the trace too.
DWORD WINAPI WatchInput(LPVOID) {
    char buffer[256];
    DWORD n;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    }
    SetEvent(g_stop);
    return 0;
}

// The debug output buffer every OutputDebugString writer fills: the writer's process id, then
// the zero-terminated text, in a 4096-byte shared section; two events hand it back and forth.
struct DebugBuffer {
    DWORD pid;
    char text[4096 - sizeof(DWORD)];
};

}  // namespace

int main(int argc, char** argv) {
    bool listenOnly = argc > 1 && std::string(argv[1]) == "--listen";
    if (argc > 2 || (argc == 2 && !listenOnly)) {
        Out("usage: mktrace [--listen]");
        return 2;
    }
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    HANDLE watcher = CreateThread(nullptr, 0, WatchInput, nullptr, 0, nullptr);
    if (watcher)
        CloseHandle(watcher);

    HANDLE bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DebugBuffer), "DBWIN_BUFFER");
    if (!bufferReady || !dataReady || !section || GetLastError() == ERROR_ALREADY_EXISTS) {
        Out("mktrace: another debug output reader is running (a debugger or DebugView); stop it "
            "first");
        return 1;
    }
    auto* buffer = static_cast<DebugBuffer*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0));
    if (!buffer) {
        Out(Format("mktrace: cannot map the debug output buffer (error %lu)", GetLastError()));
        return 1;
    }
    HANDLE traceSwitch = nullptr;
    if (!listenOnly) {
        traceSwitch = CreateEventA(nullptr, TRUE, FALSE, MK_TRACE_SWITCH_NAME);
        if (!traceSwitch) {
            Out(Format("mktrace: cannot switch the trace on (error %lu)", GetLastError()));
            return 1;
        }
    }
    Out(listenOnly ? "mktrace: listening" : "mktrace: trace on");

    HANDLE waits[2] = {dataReady, g_stop};
    SetEvent(bufferReady);
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0)
            break;
        // The buffer goes back to the writers before the line is printed: each writer waits for
        // it, and printing may wait on whoever reads our output.
        const DWORD pid = buffer->pid;
        std::string text(buffer->text, strnlen(buffer->text, sizeof buffer->text));
        SetEvent(bufferReady);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        Out(Format("%lu ", pid) + SjisToUtf8(text));
    }

    if (traceSwitch)
        CloseHandle(traceSwitch);
    Out(listenOnly ? "mktrace: stopped" : "mktrace: trace off");
    UnmapViewOfFile(buffer);
    CloseHandle(section);
    CloseHandle(dataReady);
    CloseHandle(bufferReady);
    return 0;
}
