// Byte-string helpers for the library. It has no C runtime, so these stand in for the few
// string functions it needs; they are pure and tested natively as well.
#ifndef MKHOOK_MKSTR_H
#define MKHOOK_MKSTR_H

// Whole-string, case-sensitive equality of two zero-terminated byte strings.
bool MkStrEqual(const char* a, const char* b);

#endif
