// The library links no C runtime; the compiler still emits calls to memset and memcpy for
// aggregate initialisation and copies, so it gets these two. This file is built with loop
// pattern recognition off, or the compiler would turn the loops back into calls to themselves.
#include <stddef.h>

#ifdef _MSC_VER
// MSVC treats these two as intrinsics; defining them needs its leave.
#pragma function(memset, memcpy)
#endif

extern "C" void* memset(void* dst, int value, size_t n) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    while (n--)
        *d++ = static_cast<unsigned char>(value);
    return dst;
}

extern "C" void* memcpy(void* dst, const void* src, size_t n) {
    unsigned char* d = static_cast<unsigned char*>(dst);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    while (n--)
        *d++ = *s++;
    return dst;
}
