// Telling the mascot host's processes and windows: the image name of a window's process,
// and the mascot windows the host lists in its shared memory "Sakura".
#ifndef MKHOOK_HOSTID_H
#define MKHOOK_HOSTID_H

#include <windows.h>

#include "image_test.h"

// Size of the image path buffers the callers pass to GetProcessImagePath.
#define MK_IMAGE_PATH_BYTES 260

// Copies the executable name of process `pid`, as the process snapshot reports it (a full
// path on some systems, a bare name on others), into `buffer` (MK_IMAGE_PATH_BYTES bytes).
// 1 when the process exists; 0 otherwise, the buffer then left as it was.
int GetProcessImagePath(char* buffer, DWORD pid);

// The image path of the process that owns `hwnd`, lower-cased as the image test wants it,
// into `path` (MK_IMAGE_PATH_BYTES bytes); its process identifier into `*pid`. False when the
// path cannot be found; `path` is then empty, so that it matches no host.
bool ReadWindowImagePath(HWND hwnd, char* path, DWORD* pid);

// The n-th window (from 1) that the host lists under a key containing "hwnd"; 0 when there
// is no such entry or no shared memory.
HWND GetMascotWindow(int n);

// The first window listed by the host that belongs to process `pid`, trying at most 999
// entries; 0 when none does.
HWND FindMascotWindowOfProcess(DWORD pid);

#endif
