// Program-wide state and operations of the plug-in, shared by the start-up procedure and the
// forms.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "RuntimeError.h"

namespace ramtidy {

// The block table of the cleaning run: (kMaxSteps + 1) x (kBlocksPerStep + 1) handles,
// reserved zero-filled once by the start-up procedure and never grown; row and column 0 stay
// unused. Block handles are 32-bit on the 32-bit deliverable.
using BlockHandle = std::conditional_t<sizeof(void*) == 4, int32_t, intptr_t>;
extern BlockHandle* BlockHandles;

// The mascot window every SSTP request goes to, as the command line gave it.
extern intptr_t g_MascotWindow;

// Installed and free physical memory in bytes.
struct MemoryFigures {
    uint64_t total = 0;
    uint64_t avail = 0;
};
MemoryFigures ReadMemoryStatus();

// Sends a script to the mascot window in one SSTP request; the sender is Form1.
void SendSstpScript(const std::u16string& script);

void ReportMemoryStatus();

// The saved "ShowWnd" setting.
bool ReadShowWndSetting();
void SaveShowWndSetting(bool show);

// Shows the run-time error and ends the process with the error number as exit code.
[[noreturn]] void ErrorStop(const RuntimeError& error);

inline std::wstring Wide(const std::u16string& s) {
    return std::wstring(s.begin(), s.end());
}

}  // namespace ramtidy
