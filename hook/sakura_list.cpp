#include "sakura_list.h"

namespace {

// Offset of the first `wanted` byte in [from, end), or `end` when there is none.
unsigned FindByte(const unsigned char* data, unsigned from, unsigned end, unsigned char wanted) {
    while (from < end && data[from] != wanted)
        ++from;
    return from;
}

bool KeyHasHwnd(const unsigned char* key, unsigned length) {
    static const unsigned char kHwnd[] = {'h', 'w', 'n', 'd'};
    for (unsigned i = 0; i + 4 <= length; ++i) {
        if (key[i] == kHwnd[0] && key[i + 1] == kHwnd[1] && key[i + 2] == kHwnd[2] &&
            key[i + 3] == kHwnd[3])
            return true;
    }
    return false;
}

bool IsBlank(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The memory states and protections as the system numbers them; this unit does without
// <windows.h> so that it builds and is tested natively.
const unsigned long kMemCommit = 0x1000;
const unsigned long kPageNoAccess = 0x01;
const unsigned long kPageGuard = 0x100;
// PAGE_READONLY, PAGE_READWRITE, PAGE_WRITECOPY and the three PAGE_EXECUTE_ forms that read.
const unsigned long kReadableProtections = 0x02 | 0x04 | 0x08 | 0x20 | 0x40 | 0x80;

bool IsReadable(const MkRegion& region) {
    return region.state == kMemCommit && (region.protect & (kPageNoAccess | kPageGuard)) == 0 &&
           (region.protect & kReadableProtections) != 0;
}

}  // namespace

unsigned SakuraReadableBytes(const MkRegion* regions, unsigned count, unsigned limit) {
    unsigned bytes = 0;
    for (unsigned i = 0; i < count && bytes < limit; ++i) {
        if (!IsReadable(regions[i]) || regions[i].size == 0)
            break;
        bytes = regions[i].size >= limit - bytes ? limit : bytes + regions[i].size;
    }
    return bytes;
}

int SakuraParseDecimal(const unsigned char* text, unsigned length) {
    unsigned i = 0;
    while (i < length && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Unsigned, so that an overlong number wraps as the 32-bit conversion does instead of
    // overflowing a signed value.
    unsigned value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + (text[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int>(value);
}

void SakuraListBegin(const unsigned char* data, unsigned size, MkSakuraCursor* cursor) {
    cursor->pos = 4;
    cursor->end = size <= 4 ? 4 : FindByte(data, 4, size, 0);
}

bool SakuraListNextHwnd(const unsigned char* data, MkSakuraCursor* cursor, int* value) {
    const unsigned end = cursor->end;
    while (cursor->pos < end) {
        const unsigned pos = cursor->pos;
        const unsigned soh = FindByte(data, pos, end, 0x01);
        const unsigned cr = soh == end ? end : FindByte(data, soh + 1, end, 0x0D);
        if (cr == end) {
            cursor->pos = end;  // no more entries, or an unfinished one: the list ends
            return false;
        }
        cursor->pos = cr + 2;
        // Only a "." of this entry, before its 0x01, starts the key.
        const unsigned dot = FindByte(data, pos, soh, '.');
        if (dot == soh)
            continue;
        const unsigned key = dot + 1;
        const unsigned keyLength = soh - key;
        const unsigned valueLength = cr - (soh + 1);
        if (keyLength <= MK_SAKURA_KEY_MAX && valueLength <= MK_SAKURA_VALUE_MAX &&
            KeyHasHwnd(data + key, keyLength)) {
            *value = SakuraParseDecimal(data + soh + 1, valueLength);
            return true;
        }
    }
    return false;
}

int SakuraListFindWindow(const unsigned char* data, unsigned size, int maxEntries,
                         bool (*belongs)(int window, void* context), void* context) {
    MkSakuraCursor cursor;
    SakuraListBegin(data, size, &cursor);
    int window;
    for (int tried = 0; tried < maxEntries && SakuraListNextHwnd(data, &cursor, &window); ++tried) {
        if (window == 0)
            return 0;
        if (belongs(window, context))
            return window;
    }
    return 0;
}
