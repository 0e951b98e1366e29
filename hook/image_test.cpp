#include "image_test.h"

namespace {

bool IsSjisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

}  // namespace

void MkLowerImagePath(char* path, unsigned capacity) {
    unsigned i = 0;
    while (i < capacity && path[i] != 0) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsSjisLeadByte(c) && i + 1 < capacity && path[i + 1] != 0) {
            i += 2;
            continue;
        }
        if (c >= 'A' && c <= 'Z')
            path[i] = static_cast<char>(c + ('a' - 'A'));
        ++i;
    }
}

bool MkImagePathContains(const char* path, unsigned capacity, const char* needle) {
    unsigned length = 0;
    while (length < capacity && path[length] != 0)
        ++length;
    for (unsigned start = 0;; ++start) {
        unsigned k = 0;
        while (needle[k] != 0 && start + k < length && path[start + k] == needle[k])
            ++k;
        if (needle[k] == 0)
            return true;
        if (start + k >= length)
            return false;
    }
}

bool MkIsFirstKindHost(const char* lowerPath, unsigned capacity) {
    return MkImagePathContains(lowerPath, capacity, "sakura.exe") ||
           MkImagePathContains(lowerPath, capacity, "embryo.exe");
}

bool MkIsSecondKindHost(const char* lowerPath, unsigned capacity) {
    return MkImagePathContains(lowerPath, capacity, "ssp.exe");
}
