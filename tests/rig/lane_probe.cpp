// The rig's probe of its lanes: whatever the Wine tests make desktop-wide in one lane must not
// be seen from another.
//   lane_probe hold   makes every name the tests share (the library's mutex and its drop mutex,
//                     the controller's window title, the host's shared memory "Sakura", the
//                     trace switch, the debug-output objects), prints "HOLDING" and keeps them
//                     until its standard input ends
//   lane_probe look   prints which of them it can open or find, 1 or 0 each:
//                     "LOOK mutex=1 dropmutex=1 window=1 sakura=1 trace=1 dbwin=1 dbwinmutex=1"
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "mirekko/protocol.h"

namespace {

const char kDebugBuffer[] = "DBWIN_BUFFER";
const char kDebugMutex[] = "DBWinMutex";

DWORD main_thread;

DWORD WINAPI EndWithInput(LPVOID) {
    char buf[256];
    DWORD n;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &n, nullptr) && n > 0) {
    }
    PostThreadMessageA(main_thread, WM_QUIT, 0, 0);
    return 0;
}

int Hold() {
    HANDLE made[] = {
        CreateMutexA(nullptr, FALSE, MK_MUTEX_NAME),
        CreateMutexA(nullptr, FALSE, MK_DROP_MUTEX_NAME),
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                           MK_HOST_SHARED_MEMORY),
        CreateEventA(nullptr, TRUE, FALSE, MK_TRACE_SWITCH_NAME),
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, kDebugBuffer),
        CreateMutexA(nullptr, FALSE, kDebugMutex),
    };
    for (HANDLE h : made) {
        if (!h) {
            std::printf("FAILED to make a name: error %lu\n", GetLastError());
            return 1;
        }
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MkLaneProbe";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, MK_CONTROLLER_TITLE, WS_OVERLAPPED, 0, 0, 0,
                                  0, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) {
        std::printf("FAILED to make the window: error %lu\n", GetLastError());
        return 1;
    }
    // The thread's queue exists (the window's), so the reader's WM_QUIT cannot be lost.
    main_thread = GetCurrentThreadId();
    HANDLE reader = CreateThread(nullptr, 0, EndWithInput, nullptr, 0, nullptr);
    std::printf("HOLDING\n");
    std::fflush(stdout);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    WaitForSingleObject(reader, INFINITE);
    DestroyWindow(window);
    return 0;
}

int Found(HANDLE h) {
    if (!h)
        return 0;
    CloseHandle(h);
    return 1;
}

int Look() {
    std::printf("LOOK mutex=%d dropmutex=%d window=%d sakura=%d trace=%d dbwin=%d dbwinmutex=%d\n",
                Found(OpenMutexA(SYNCHRONIZE, FALSE, MK_MUTEX_NAME)),
                Found(OpenMutexA(SYNCHRONIZE, FALSE, MK_DROP_MUTEX_NAME)),
                FindWindowA(nullptr, MK_CONTROLLER_TITLE) ? 1 : 0,
                Found(OpenFileMappingA(FILE_MAP_READ, FALSE, MK_HOST_SHARED_MEMORY)),
                Found(OpenEventA(SYNCHRONIZE, FALSE, MK_TRACE_SWITCH_NAME)),
                Found(OpenFileMappingA(FILE_MAP_READ, FALSE, kDebugBuffer)),
                Found(OpenMutexA(SYNCHRONIZE, FALSE, kDebugMutex)));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "hold") == 0)
        return Hold();
    if (argc == 2 && std::strcmp(argv[1], "look") == 0)
        return Look();
    std::fprintf(stderr, "usage: lane_probe hold|look\n");
    return 2;
}
