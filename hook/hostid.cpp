// Telling the mascot host's processes and windows: the image name of a window's process, and
// the mascot windows the host lists in its shared memory.
#include "host_side.h"

#include <string.h>
#include <tlhelp32.h>

#include "sakura_list.h"

namespace {

// The ANSI process entry as the snapshot functions fill it; its size is what they check.
const DWORD kProcessEntrySize = 296;
const DWORD kSakuraCopyBytes = 65536;
const int kMaxMascotEntries = 999;

typedef HANDLE(WINAPI* SnapshotFn)(DWORD, DWORD);
// The ANSI entry by its tag: the plain name turns into the wide one when UNICODE is defined.
typedef BOOL(WINAPI* ProcessWalkFn)(HANDLE, tagPROCESSENTRY32*);

// Through the generic function type, which the compilers accept as a cast between
// function pointers without a warning.
template <typename Fn>
Fn LookUp(HMODULE hModule, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, name)));
}

// How much of the view can be copied without a fault: the pages that whoever made "Sakura"
// committed and left readable, region by region from the start, at most the 64 KiB read.
SIZE_T ReadableViewBytes(const void* view) {
    // Every region spans at least one page, so this many records cover the copy.
    const unsigned kMaxRegions = kSakuraCopyBytes / 4096;
    MkRegion regions[kMaxRegions];
    unsigned count = 0;
    SIZE_T offset = 0;
    while (count < kMaxRegions && offset < kSakuraCopyBytes) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(static_cast<const char*>(view) + offset, &info, sizeof info) !=
            sizeof info)
            break;
        regions[count].state = info.State;
        regions[count].protect = info.Protect;
        regions[count].size = static_cast<unsigned long>(info.RegionSize);
        offset += info.RegionSize;
        ++count;
    }
    return SakuraReadableBytes(regions, count, kSakuraCopyBytes);
}

}  // namespace

int GetProcessImagePath(char* buffer, DWORD pid) {
    // Looked up by name: the snapshot functions are missing from some kernels, and the
    // library must load everywhere.
    HMODULE hKernel = GetModuleHandleA("KERNEL32.DLL");
    if (!hKernel)
        return 0;
    SnapshotFn pSnapshot = LookUp<SnapshotFn>(hKernel, "CreateToolhelp32Snapshot");
    ProcessWalkFn pFirst = LookUp<ProcessWalkFn>(hKernel, "Process32First");
    ProcessWalkFn pNext = LookUp<ProcessWalkFn>(hKernel, "Process32Next");
    if (!pSnapshot || !pFirst || !pNext)
        return 0;

    HANDLE hSnapshot = pSnapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return 0;
    tagPROCESSENTRY32* entry = static_cast<tagPROCESSENTRY32*>(MkAlloc(sizeof(tagPROCESSENTRY32)));
    int found = 0;
    if (entry) {
        entry->dwSize = kProcessEntrySize;
        BOOL more = pFirst(hSnapshot, entry);
        while (more == TRUE) {
            if (entry->th32ProcessID == pid) {
                int i = 0;
                for (; i < MK_IMAGE_PATH_BYTES - 1 && entry->szExeFile[i] != 0; ++i)
                    buffer[i] = entry->szExeFile[i];
                buffer[i] = 0;
                found = 1;
                break;
            }
            more = pNext(hSnapshot, entry);
        }
        MkFree(entry);
    }
    CloseHandle(hSnapshot);
    return found;
}

bool ReadWindowImagePath(HWND hwnd, char* path, DWORD* pid, MkTrace* trace) {
    *pid = 0;
    GetWindowThreadProcessId(hwnd, pid);
    path[0] = 0;
    bool found = GetProcessImagePath(path, *pid) != 0;
    if (found)
        MkLowerImagePath(path, MK_IMAGE_PATH_BYTES);
    if (trace->on) {
        trace->image = !found                                         ? "not found"
                       : MkIsFirstKindHost(path, MK_IMAGE_PATH_BYTES) ? MK_HOST_IMAGE_SAKURA
                           "|" MK_HOST_IMAGE_EMBRYO
                       : MkIsSecondKindHost(path, MK_IMAGE_PATH_BYTES) ? MK_HOST_IMAGE_SSP
                                                                       : "none";
    }
    return found;
}

HWND GetMascotWindow(int n) {
    unsigned char* copy = static_cast<unsigned char*>(MkAlloc(kSakuraCopyBytes));
    if (!copy)
        return 0;
    int value = 0;
    HANDLE hMapping = OpenFileMappingA(FILE_MAP_READ, FALSE, MK_HOST_SHARED_MEMORY);
    if (hMapping) {
        const void* view = MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0);
        if (view) {
            SIZE_T bytes = ReadableViewBytes(view);
            memcpy(copy, view, bytes);
            value = SakuraListFindHwnd(copy, static_cast<unsigned>(bytes), n);
            UnmapViewOfFile(view);
        }
        CloseHandle(hMapping);
    }
    MkFree(copy);
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
}

HWND FindMascotWindowOfProcess(DWORD pid) {
    for (int n = 1; n <= kMaxMascotEntries; ++n) {
        HWND hMascot = GetMascotWindow(n);
        if (!hMascot)
            return 0;
        DWORD owner = 0;
        GetWindowThreadProcessId(hMascot, &owner);
        if (owner == pid)
            return hMascot;
    }
    return 0;
}
