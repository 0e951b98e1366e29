// Telling the mascot host's processes and windows: the image name of the process the hook runs
// in, and the mascot windows the host lists in its shared memory.
#define PSAPI_VERSION 2  // GetMappedFileNameW from KERNEL32, not from PSAPI
#include "host_side.h"

#include <psapi.h>
#include <string.h>
#include <tlhelp32.h>

#include "sakura_list.h"

namespace {

// The wide process entry as the snapshot functions fill it; its size is what they check, and
// it differs by architecture (it holds a pointer-sized field).
const DWORD kProcessEntrySize = sizeof(PROCESSENTRY32W);
static_assert(sizeof(void*) != 4 || kProcessEntrySize == 556,
              "the 32-bit wide process entry is 556 bytes");
const DWORD kSakuraCopyBytes = 65536;
const int kMaxMascotEntries = 999;

typedef HANDLE(WINAPI* SnapshotFn)(DWORD, DWORD);
typedef BOOL(WINAPI* ProcessWalkFn)(HANDLE, PROCESSENTRY32W*);

// The image of this process, once read. A process's image never changes, and the hook acts
// only on windows of the process it runs in, so one snapshot of the process list serves for
// the life of the process: taking one for every handled message cost the host's menu ten
// times what the rest of the handling did. 0 nobody has read it, 1 a thread is storing it,
// 2 stored. Hooked threads of one process may race for it: each reads into its own
// buffer, and only the first to claim the slot stores what it read.
LONG volatile g_lImageState;
MkImage g_image;

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

// Whether the view is of a mapping backed by a file (not by the paging file): its pages are
// read in from that file when first touched. Unless the system says it is not, it counts as
// one.
bool BackedByFile(const void* view) {
    wchar_t name[MAX_PATH];
    return GetMappedFileNameW(GetCurrentProcess(), const_cast<void*>(view), name, MAX_PATH) > 0 ||
           GetLastError() != ERROR_FILE_INVALID;
}

// Copies the readable part of "Sakura" (at most 64 KiB) into `copy`; the number of bytes, 0
// when the host publishes no list. A page of a mapping backed by a file that cannot be read in
// when it is touched (a share gone away, a removed disk) faults the reader: such a view is
// copied by the system, which reports the page as an error instead of raising it in the host,
// and an error gives no list. The paging file's mappings are copied straight away, which costs
// a twentieth of that.
unsigned ReadSakura(unsigned char* copy) {
    SIZE_T bytes = 0;
    HANDLE hMapping = OpenFileMappingA(FILE_MAP_READ, FALSE, MK_HOST_SHARED_MEMORY);
    if (hMapping) {
        const void* view = MapViewOfFile(hMapping, FILE_MAP_READ, 0, 0, 0);
        if (view) {
            bytes = ReadableViewBytes(view);
            if (bytes && BackedByFile(view)) {
                SIZE_T read = 0;
                if (!ReadProcessMemory(GetCurrentProcess(), view, copy, bytes, &read) ||
                    read != bytes)
                    bytes = 0;
            } else {
                memcpy(copy, view, bytes);
            }
            UnmapViewOfFile(view);
        }
        CloseHandle(hMapping);
    }
    return static_cast<unsigned>(bytes);
}

bool BelongsToProcess(int window, void* pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<INT_PTR>(window)), &owner);
    return owner == *static_cast<DWORD*>(pid);
}

}  // namespace

bool IsWindowOfThisProcess(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid == GetCurrentProcessId();
}

void ReadClassName(HWND hwnd, char* text, int bytes) {
    // A class name has at most 256 characters.
    wchar_t name[257];
    text[0] = 0;
    if (GetClassNameW(hwnd, name, 257) > 0 && MkToAnsi(name, text, bytes) >= kMkAnsiTooLong)
        text[0] = 0;
}

void ReadMenuItemText(HMENU hMenu, UINT position, char* text, int bytes) {
    text[0] = 0;
    wchar_t* wide = static_cast<wchar_t*>(MkAlloc(bytes * sizeof(wchar_t)));
    if (!wide)
        return;
    if (GetMenuStringW(hMenu, position, wide, bytes, MF_BYPOSITION) > 0 &&
        MkToAnsi(wide, text, bytes) >= kMkAnsiTooLong)
        text[0] = 0;
    MkFree(wide);
}

int GetProcessImagePath(wchar_t* buffer, DWORD pid) {
    // Looked up by name: the snapshot functions are missing from some kernels, and the
    // library must load everywhere.
    HMODULE hKernel = GetModuleHandleA("KERNEL32.DLL");
    if (!hKernel)
        return 0;
    SnapshotFn pSnapshot = MkLookUp<SnapshotFn>(hKernel, "CreateToolhelp32Snapshot");
    ProcessWalkFn pFirst = MkLookUp<ProcessWalkFn>(hKernel, "Process32FirstW");
    ProcessWalkFn pNext = MkLookUp<ProcessWalkFn>(hKernel, "Process32NextW");
    if (!pSnapshot || !pFirst || !pNext)
        return 0;

    HANDLE hSnapshot = pSnapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W* entry = static_cast<PROCESSENTRY32W*>(MkAlloc(sizeof(PROCESSENTRY32W)));
    int found = 0;
    if (entry) {
        entry->dwSize = kProcessEntrySize;
        BOOL more = pFirst(hSnapshot, entry);
        while (more == TRUE) {
            if (entry->th32ProcessID == pid) {
                int i = 0;
                for (; i < MK_IMAGE_PATH_CHARS - 1 && entry->szExeFile[i] != 0; ++i)
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

const MkImage* ThisProcessImage(MkImage* scratch, MkTrace* trace) {
    if (__atomic_load_n(&g_lImageState, __ATOMIC_ACQUIRE) != 2) {
        // The first thread to come reads into the kept answer; one that comes while it does
        // reads into its own scratch.
        LONG expected = 0;
        MkImage* image = __atomic_compare_exchange_n(&g_lImageState, &expected, 1, false,
                                                     __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)
                             ? &g_image
                             : scratch;
        LARGE_INTEGER start;
        QueryPerformanceCounter(&start);
        image->path[0] = 0;
        const bool found = GetProcessImagePath(image->path, GetCurrentProcessId()) != 0;
        if (found) {
            char16_t* path = reinterpret_cast<char16_t*>(image->path);
            MkLowerImagePath(path, MK_IMAGE_PATH_CHARS);
            image->firstKind = MkIsFirstKindHost(path, MK_IMAGE_PATH_CHARS);
            image->secondKind = MkIsSecondKindHost(path, MK_IMAGE_PATH_CHARS);
            TraceImageRead(trace, image->path, &start);
        }
        // Only an answer is kept: a snapshot that failed (the system short of memory, say) is
        // taken again by the next message rather than standing for "no host" for good.
        if (image == &g_image)
            __atomic_store_n(&g_lImageState, found ? 2 : 0, __ATOMIC_RELEASE);
        if (!found) {
            TraceImage(trace, NULL);
            return NULL;
        }
        TraceImage(trace, image);
        return image;
    }
    TraceImage(trace, &g_image);
    return &g_image;
}

HWND FindMascotWindowOfProcess(DWORD pid) {
    unsigned char* copy = static_cast<unsigned char*>(MkAlloc(kSakuraCopyBytes));
    if (!copy)
        return 0;
    // One copy per message, walked once in list order: the first listed window of the
    // process, as trying the entries n = 1, 2, ... one search each found it.
    const unsigned bytes = ReadSakura(copy);
    const int window = SakuraListFindWindow(copy, bytes, kMaxMascotEntries, BelongsToProcess, &pid);
    MkFree(copy);
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(window));
}
