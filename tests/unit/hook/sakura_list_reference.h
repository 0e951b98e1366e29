// The window list as the library searched it before it learnt to walk the list once: the
// n-th "hwnd" entry found by a search from the start for every n, and the caller trying
// n = 1, 2, ... up to 999. Kept as the reference the walk must agree with, byte for byte.
#pragma once

#include "sakura_list.h"

namespace mk::reference {

inline unsigned FindByte(const unsigned char* data, unsigned from, unsigned end,
                         unsigned char wanted) {
    while (from < end && data[from] != wanted)
        ++from;
    return from;
}

inline bool KeyHasHwnd(const unsigned char* key, unsigned length) {
    for (unsigned i = 0; i + 4 <= length; ++i)
        if (key[i] == 'h' && key[i + 1] == 'w' && key[i + 2] == 'n' && key[i + 3] == 'd')
            return true;
    return false;
}

// The value of the n-th entry (from 1) whose key contains "hwnd"; 0 when there is none.
inline int NthHwnd(const unsigned char* data, unsigned size, int n) {
    if (n < 1 || size <= 4)
        return 0;
    const unsigned end = FindByte(data, 4, size, 0);
    int count = 0;
    unsigned pos = 4;
    while (pos < end) {
        const unsigned soh = FindByte(data, pos, end, 0x01);
        if (soh == end)
            return 0;
        const unsigned cr = FindByte(data, soh + 1, end, 0x0D);
        if (cr == end)
            return 0;
        const unsigned dot = FindByte(data, pos, soh, '.');
        if (dot != soh) {
            const unsigned key = dot + 1;
            const unsigned keyLength = soh - key;
            const unsigned valueLength = cr - (soh + 1);
            if (keyLength <= MK_SAKURA_KEY_MAX && valueLength <= MK_SAKURA_VALUE_MAX &&
                KeyHasHwnd(data + key, keyLength) && ++count == n)
                return SakuraParseDecimal(data + soh + 1, valueLength);
        }
        pos = cr + 2;
    }
    return 0;
}

// The first listed window that `belongs` accepts, trying n = 1 to 999 and stopping at the
// first 0.
template <typename Belongs>
int FindWindow(const unsigned char* data, unsigned size, Belongs belongs) {
    for (int n = 1; n <= 999; ++n) {
        const int window = NthHwnd(data, size, n);
        if (window == 0)
            return 0;
        if (belongs(window))
            return window;
    }
    return 0;
}

}  // namespace mk::reference
