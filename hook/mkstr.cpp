#include "mkstr.h"

bool MkStrEqual(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (*a != *b)
            return false;
        if (!*a)
            return true;
    }
}

int MkDecimal(intptr_t value, char* out) {
    // Digits from the magnitude as unsigned, so that the most negative value has one too.
    uintptr_t magnitude = value < 0 ? 0 - static_cast<uintptr_t>(value) : value;
    char digits[kMkDecimalBytes];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    int n = 0;
    if (value < 0)
        out[n++] = '-';
    while (count)
        out[n++] = digits[--count];
    out[n] = 0;
    return n;
}
