#include "image_test.h"

#include "mirekko/protocol.h"

void MkLowerImagePath(char16_t* path, unsigned capacity) {
    for (unsigned i = 0; i < capacity && path[i] != 0; ++i)
        if (path[i] >= u'A' && path[i] <= u'Z')
            path[i] = static_cast<char16_t>(path[i] + (u'a' - u'A'));
}

bool MkImagePathContains(const char16_t* path, unsigned capacity, const char* needle) {
    unsigned length = 0;
    while (length < capacity && path[length] != 0)
        ++length;
    for (unsigned start = 0;; ++start) {
        unsigned k = 0;
        while (needle[k] != 0 && start + k < length &&
               path[start + k] == static_cast<unsigned char>(needle[k]))
            ++k;
        if (needle[k] == 0)
            return true;
        if (start + k >= length)
            return false;
    }
}

bool MkIsFirstKindHost(const char16_t* lowerPath, unsigned capacity) {
    return MkImagePathContains(lowerPath, capacity, MK_HOST_IMAGE_SAKURA) ||
           MkImagePathContains(lowerPath, capacity, MK_HOST_IMAGE_EMBRYO);
}

bool MkIsSecondKindHost(const char16_t* lowerPath, unsigned capacity) {
    return MkImagePathContains(lowerPath, capacity, MK_HOST_IMAGE_SSP);
}
