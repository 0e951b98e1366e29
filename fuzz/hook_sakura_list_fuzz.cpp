// Arbitrary bytes as the host's shared memory and as a process image name: the parser and
// the image test must stay inside them (the sanitizers watch every access), the parser must
// not write, the walk over the list must find what the search one entry at a time found, and
// the lower-casing may leave a capital only as the second byte of a Shift_JIS double-byte
// character.
#include "image_test.h"
#include "sakura_list.h"
#include "sakura_list_reference.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

namespace {

void CheckLowering(const uint8_t* data, size_t size) {
    char path[260];
    const size_t len = size < sizeof path ? size : sizeof path;
    memcpy(path, data, len);
    MkLowerImagePath(path, static_cast<unsigned>(len));
    for (size_t i = 0; i < len && path[i] != 0;) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        if (lead && i + 1 < len && path[i + 1] != 0) {
            if (path[i] != static_cast<char>(data[i]) ||
                path[i + 1] != static_cast<char>(data[i + 1]))
                __builtin_trap();
            i += 2;
            continue;
        }
        if (c >= 'A' && c <= 'Z')
            __builtin_trap();
        ++i;
    }
    MkIsFirstKindHost(path, static_cast<unsigned>(len));
    MkIsSecondKindHost(path, static_cast<unsigned>(len));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536)
        size = 65536;
    // An exact-size heap copy, so that a read one byte past the end is caught.
    std::vector<unsigned char> copy(data, data + size);
    const unsigned bytes = static_cast<unsigned>(size);
    MkSakuraCursor cursor;
    SakuraListBegin(copy.data(), bytes, &cursor);
    int value;
    // The reference searches from the start for every n: its cost grows with the square of
    // the list, so it checks the first entries, and the whole search only on short inputs.
    for (int n = 1; n <= 32; ++n) {
        const bool more = SakuraListNextHwnd(copy.data(), &cursor, &value);
        if (mk::reference::NthHwnd(copy.data(), bytes, n) != (more ? value : 0))
            __builtin_trap();
        if (!more)
            break;
    }
    // Windows "of the process": those whose low bits match a byte of the input.
    int context = size ? data[0] & 3 : 0;
    auto belongs = [](int window, void* c) { return (window & 3) == *static_cast<int*>(c); };
    if (size <= 4096 && SakuraListFindWindow(copy.data(), bytes, 999, belongs, &context) !=
                            mk::reference::FindWindow(copy.data(), bytes, [&](int window) {
                                return belongs(window, &context);
                            }))
        __builtin_trap();
    if (size && memcmp(copy.data(), data, size) != 0)
        __builtin_trap();
    CheckLowering(data, size);
    return 0;
}
