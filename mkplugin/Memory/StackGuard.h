// The stack canary of the functions that -fstack-protector-strong guards (StackGuard.cpp).
#pragma once

namespace ramtidy {

// Gives the canary its random value. Runs once, when the process starts (ProcessStart.cpp),
// while no guarded function is on the stack: every frame opened before would find its canary
// changed.
void SeedStackGuard();

}  // namespace ramtidy
