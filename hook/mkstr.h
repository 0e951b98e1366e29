// Byte-string helpers for the library. It has no C runtime, so these stand in for the few
// string functions it needs; they are pure and tested natively as well.
#ifndef MKHOOK_MKSTR_H
#define MKHOOK_MKSTR_H

#include <stdint.h>

// Whole-string, case-sensitive equality of two zero-terminated byte strings.
bool MkStrEqual(const char* a, const char* b);

// Room for any pointer-sized value in decimal: a sign, 19 digits and the terminating zero.
const int kMkDecimalBytes = 21;

// Writes `value` as signed decimal text ("%ld" of a 32-bit value gives the same) with its
// terminating zero into `out` (kMkDecimalBytes bytes); returns the number of characters.
// Window handles cross to the mascot in this form at the width of a pointer: a 64-bit
// handle printed as a 32-bit long would lose its upper half.
int MkDecimal(intptr_t value, char* out);

#endif
