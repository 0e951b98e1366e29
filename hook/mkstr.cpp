#include "mkstr.h"

bool MkStrEqual(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (*a != *b)
            return false;
        if (!*a)
            return true;
    }
}
