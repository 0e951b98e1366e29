// The image's load configuration (the PE load config directory). GNU ld has no option for its
// fields, but it points the directory at the image's own _load_config_used structure when there
// is one. The one field set here is DependentLoadFlags: Windows 10 1607 and later resolve the
// image's own static imports with it, here in the system directory alone. Older systems ignore
// it; every static import of the program is a KnownDLL too, which Windows always takes from the
// system (cmake/pe_check.py checks both).
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace ramtidy {

// The fields up to the security cookie, laid out as IMAGE_LOAD_CONFIG_DIRECTORY32 and 64 (not
// every MinGW-w64 release names DependentLoadFlags in its headers yet). The x86 size, 64 bytes,
// is also what GNU ld writes into the directory for an image whose subsystem version is 5.1 or
// lower, as this one's is.
struct LoadConfigDirectory {
    uint32_t Size;
    uint32_t TimeDateStamp;
    uint16_t MajorVersion;
    uint16_t MinorVersion;
    uint32_t GlobalFlagsClear;
    uint32_t GlobalFlagsSet;
    uint32_t CriticalSectionDefaultTimeout;
    uintptr_t DeCommitFreeBlockThreshold;
    uintptr_t DeCommitTotalFreeThreshold;
    uintptr_t LockPrefixTable;
    uintptr_t MaximumAllocationSize;
    uintptr_t VirtualMemoryThreshold;
#ifdef _WIN64
    uintptr_t ProcessAffinityMask;
    uint32_t ProcessHeapFlags;
#else
    uint32_t ProcessHeapFlags;
    uintptr_t ProcessAffinityMask;
#endif
    uint16_t CSDVersion;
    uint16_t DependentLoadFlags;
    uintptr_t EditList;
    uintptr_t SecurityCookie;  // none: the program's canary is its own (StackGuard.cpp)
};
static_assert(offsetof(LoadConfigDirectory, DependentLoadFlags) ==
                  (sizeof(void*) == 8 ? 0x4E : 0x36),
              "DependentLoadFlags where Windows reads it");
static_assert(sizeof(LoadConfigDirectory) == (sizeof(void*) == 8 ? 0x60 : 0x40),
              "the directory up to the security cookie");

}  // namespace ramtidy

namespace ramtidy {

constexpr LoadConfigDirectory ProgramLoadConfig() {
    LoadConfigDirectory config = {};
    config.Size = sizeof config;
    config.DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return config;
}

}  // namespace ramtidy

extern "C" __attribute__((used)) const ramtidy::LoadConfigDirectory _load_config_used =
    ramtidy::ProgramLoadConfig();
