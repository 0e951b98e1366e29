// Arbitrary bytes as the host's shared memory, as a process image name and as a security
// identifier: the parser, the image test and the identifier's reading must stay inside them
// (the sanitizers watch every access), the parser must not write, the walk over the list must
// find what the search one entry at a time found, the lower-casing may change nothing but the
// capitals A to Z, and the repair of broken surrogate pairs must leave none and keep the
// pairs.
#include "image_test.h"
#include "integrity.h"
#include "sakura_list.h"
#include "sakura_list_reference.h"
#include "utf16.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <vector>

namespace {

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void CheckUtf16(const uint8_t* data, size_t size) {
    char16_t path[260];
    const size_t len = size / 2 < 260 ? size / 2 : 260;
    memcpy(path, data, len * 2);
    MkLowerImagePath(path, static_cast<unsigned>(len));
    for (size_t i = 0; i < len && path[i] != 0; ++i) {
        char16_t was;
        memcpy(&was, data + 2 * i, 2);
        const char16_t lowered = was >= u'A' && was <= u'Z' ? was + (u'a' - u'A') : was;
        if (path[i] != lowered)
            __builtin_trap();
    }
    MkIsFirstKindHost(path, static_cast<unsigned>(len));
    MkIsSecondKindHost(path, static_cast<unsigned>(len));

    // Zero-terminated, as the system hands text over.
    std::vector<char16_t> text(len + 1, 0);
    memcpy(text.data(), data, len * 2);
    std::vector<char16_t> before = text;
    const unsigned replaced = MkReplaceUnpairedSurrogates(text.data(), u'?');
    unsigned changed = 0;
    for (size_t i = 0; text[i] != 0; ++i) {
        if (IsHigh(text[i])) {
            if (!IsLow(text[i + 1]) || text[i + 1] != before[i + 1])
                __builtin_trap();
            ++i;
            continue;
        }
        if (IsLow(text[i]))
            __builtin_trap();
        changed += text[i] != before[i];
    }
    if (changed != replaced)
        __builtin_trap();

    std::vector<unsigned char> sid(data, data + (size < 80 ? size : 80));
    MkSidLastRid(sid.data(), static_cast<unsigned long>(sid.size()));
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
    CheckUtf16(data, size);
    return 0;
}
