#include "mkstr.h"

unsigned MkStrLen(const char* s) {
    unsigned n = 0;
    while (s[n])
        ++n;
    return n;
}

bool MkStrEqual(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (*a != *b)
            return false;
        if (!*a)
            return true;
    }
}

bool MkStrContains(const char* hay, const char* needle) {
    for (;; ++hay) {
        const char* h = hay;
        const char* n = needle;
        while (*n && *h == *n) {
            ++h;
            ++n;
        }
        if (!*n)
            return true;
        if (!*hay)
            return false;
    }
}
