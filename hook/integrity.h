// Integrity levels of processes, as the system labels their tokens: a window of a process at a
// lower level than the mascot host's is not the controller, whatever its title. Pure: compiled
// into the library and natively for the tests.
#ifndef MKHOOK_INTEGRITY_H
#define MKHOOK_INTEGRITY_H

// What the system could not tell (no such functions, no access, a label that is not there).
const unsigned long kMkIntegrityUnknown = 0xFFFFFFFFul;

// The last relative identifier of the security identifier at `sid`, at most `bytes` bytes
// read (for a mandatory label, the integrity level: 0x2000 medium, 0x1000 low, ...);
// kMkIntegrityUnknown unless those bytes hold a whole identifier with at least one.
unsigned long MkSidLastRid(const unsigned char* sid, unsigned long bytes);

// Whether a window of a process at `windowLevel` may be the controller for a host at
// `hostLevel`: not when it is known to be lower. Where either level is unknown, nothing is
// refused (the system that cannot tell, Wine for one, keeps the lookup by title).
bool MkIntegrityAllowsController(unsigned long hostLevel, unsigned long windowLevel);

#endif
