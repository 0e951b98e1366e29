// Keeps the Wine desktop of a test prefix open while its tests run.
//
// The wineserver closes a desktop one second after its last program ends (explorer.exe, which
// owns it, is told to quit), and a program that starts while the desktop is going away cannot
// create windows. CTest starts the test programs one after another; on a busy machine the gap
// between two can pass that second, and the next program's first window then fails. This
// program is a user of the desktop for as long as the prefix's wineserver runs: it connects to
// the desktop (user32 does that when it is loaded) and then only waits. It has no window and
// retrieves no message, so no message hook is ever called in it and no broadcast waits for it.
#include <windows.h>

int main() {
    // Connects this thread to the desktop even where user32 connects lazily.
    if (!GetThreadDesktop(GetCurrentThreadId()) || !GetDesktopWindow())
        return 1;
    // Ended by `wineserver -k` at the fixture's cleanup.
    Sleep(INFINITE);
    return 0;
}
