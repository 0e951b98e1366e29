// The library in the controller's process: the exports and the lifecycle (exports.cpp), the
// plug-in-installed notice and the version box (notices.cpp). None of this runs inside the
// mascot host; HookStart only hands the host's side its two hook procedures.
#ifndef MKHOOK_CONTROLLER_SIDE_H
#define MKHOOK_CONTROLLER_SIDE_H

#include "library.h"

// For HookExit, once the hooks are out: ends the version-box thread and every notice thread
// still running. None begins its box or its send any more; the version box is closed until
// its thread has ended, and notices still in their send to a mascot after one grace period
// shared by all of them are terminated in that wait; the others finish. Nothing of the
// library runs in them when this returns (a thread that would not end keeps its reference on
// the library, so that its code stays mapped).
void EndLibraryThreads();

#endif
