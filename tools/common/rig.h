// How long the test rig waits for what it expects to come: a program starting, a window
// appearing, a line being printed. Such a wait ends as soon as the event comes, so its limit
// only has to lie beyond what a loaded machine needs. On a slow path (the emulated guest) every
// such limit grows by one factor, MK_RIG_WAIT_FACTOR, which ./dev sets from the path it takes
// and which the stand-ins, the tests and CTest's time limits all read.
//
// Not for the product's own bounds (a drop holds the host at most 5 s, the pop-up request
// gets 2 s) nor for waits that check that something does not happen: those stay as they are.
#pragma once

#include <windows.h>

namespace mk::tools {

// The longest a healthy machine, however busy, takes to start a program and have it print its
// first line, on the native path.
inline constexpr DWORD kRigLimitMs = 60000;

// MK_RIG_WAIT_FACTOR: a whole number from 1 to 100; 1 when unset or anything else.
unsigned RigWaitFactor();

// `base_ms` on the native path, times the factor on a slower one.
DWORD RigLimit(DWORD base_ms = kRigLimitMs);

}  // namespace mk::tools
