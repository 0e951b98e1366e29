// The mascot host's list of its windows, as it publishes it in the shared memory "Sakura":
// from byte 4 on, entries "<id>.<key>\x01<value>\r\n", ending at the first zero byte.
// Pure: the library parses a private copy of the memory with it, and the native tests and
// the fuzzer run it on arbitrary bytes.
#ifndef MKHOOK_SAKURA_LIST_H
#define MKHOOK_SAKURA_LIST_H

// Longest key and value the host writes: the key fits a 20-byte buffer with its terminator,
// a value (a window handle in decimal) has at most 10 characters.
#define MK_SAKURA_KEY_MAX 19
#define MK_SAKURA_VALUE_MAX 10

// The memory belongs to another program and may hold anything, so nothing outside
// data[0..size) is ever read. Entries that break the format are skipped, not guessed at:
//   - a key longer than MK_SAKURA_KEY_MAX bytes, or a value longer than MK_SAKURA_VALUE_MAX
//     characters, is not what the host writes; such an entry is skipped and not counted
//     (reading only part of it could yield a window that is not the host's);
//   - an entry with no "." before its 0x01 has no key and is skipped;
//   - an entry with no 0x0D after its 0x01 is unfinished and ends the list;
//   - without a zero byte the text ends with the data.
//
// The list is walked once, entry by entry in its order: a cursor starts at the text and each
// step yields the value of the next entry whose key contains "hwnd".
struct MkSakuraCursor {
    unsigned pos;  // where the next entry begins
    unsigned end;  // the first zero byte from byte 4 on, or `size`
};
void SakuraListBegin(const unsigned char* data, unsigned size, MkSakuraCursor* cursor);
// The next "hwnd" entry's number into `*value`; false when the list has no more of them.
bool SakuraListNextHwnd(const unsigned char* data, MkSakuraCursor* cursor, int* value);

// The first window the list names, in its order, that `belongs` accepts: at most
// `maxEntries` "hwnd" entries are tried, and an entry whose value is 0 (no window) ends the
// search without a result. 0 when none is accepted.
int SakuraListFindWindow(const unsigned char* data, unsigned size, int maxEntries,
                         bool (*belongs)(int window, void* context), void* context);

// One region of the mapped view as the system describes it: the fields that decide whether
// its pages can be read.
struct MkRegion {
    unsigned long state;    // MEM_COMMIT, MEM_RESERVE, MEM_FREE
    unsigned long protect;  // PAGE_* flags
    unsigned long size;     // bytes from the queried address to the region's end
};

// How many bytes from the start of the view may be copied: the consecutive regions from the
// first one on that are committed and readable (no PAGE_NOACCESS, no PAGE_GUARD, a protection
// that allows reading), at most `limit`. Whoever creates "Sakura" decides what its pages are:
// a mapping made with SEC_RESERVE has pages that fault when read, and a fault there would
// take down the host whose thread the hook runs on.
unsigned SakuraReadableBytes(const MkRegion* regions, unsigned count, unsigned limit);

// The value of an entry converted as the host's decimal text: leading white space, one
// optional sign, then digits up to the first other character, in wrapping 32-bit arithmetic.
int SakuraParseDecimal(const unsigned char* text, unsigned length);

#endif
