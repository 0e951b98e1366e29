#include "integrity.h"

namespace {

// A SID: revision (1), the count of sub-authorities, a 6-byte authority, then the
// sub-authorities as 32-bit little-endian numbers.
const unsigned kSidRevision = 1;
const unsigned long kSidHeaderBytes = 8;
const unsigned kSidMaxSubAuthorities = 15;

}  // namespace

unsigned long MkSidLastRid(const unsigned char* sid, unsigned long bytes) {
    if (!sid || bytes < kSidHeaderBytes || sid[0] != kSidRevision)
        return kMkIntegrityUnknown;
    const unsigned count = sid[1];
    if (count == 0 || count > kSidMaxSubAuthorities || kSidHeaderBytes + 4ul * count > bytes)
        return kMkIntegrityUnknown;
    const unsigned char* last = sid + kSidHeaderBytes + 4ul * (count - 1);
    return static_cast<unsigned long>(last[0]) | static_cast<unsigned long>(last[1]) << 8 |
           static_cast<unsigned long>(last[2]) << 16 | static_cast<unsigned long>(last[3]) << 24;
}

bool MkIntegrityAllowsController(unsigned long hostLevel, unsigned long windowLevel) {
    if (hostLevel == kMkIntegrityUnknown || windowLevel == kMkIntegrityUnknown)
        return true;
    return windowLevel >= hostLevel;
}
