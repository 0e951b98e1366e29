// Helpers of the plug-in's end-to-end tests: a WM_COPYDATA target that records how the sender
// looked at the moment of the send, the saved setting, and the expected figures.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child.h"
#include "winutil.h"

namespace ramtidy_e2e {

// The mascot window the plug-in reports to, and what it received.
using MascotSink = mk::test::CopyDataSink;
using Received = mk::test::CopyDataSink::Request;

// The saved "ShowWnd" setting of the prefix's current user; restored when the guard goes.
class SettingGuard {
public:
    SettingGuard();
    ~SettingGuard();
    static std::optional<std::wstring> Get();
    static void Set(const std::wstring& text);
    static void Remove();

private:
    std::optional<std::wstring> saved_;
};

std::unique_ptr<mk::test::Child> StartRamtidy(const std::wstring& args);

// How far the free memory a report names may lie outside the test's own readings before and
// after the run. Other programs on the machine move it, by close to a gigabyte within a second
// when another claim loop runs beside the tests, and Wine keeps its figure about a second per
// process. A wrong unit or a figure capped at 2 GB still lies far outside.
constexpr long kFreeLeewayMB = 2048;

// Physical memory as the test reads it.
struct Memory {
    unsigned long long total = 0, avail = 0;
};
Memory ReadMemory();
long long RoundHalfEven(double x);

// The SSTP request the plug-in sends, in Shift_JIS, composed here from UTF-8.
std::string ExpectedRequest(const std::string& script_utf8, long sender);

// Top-level visible windows of a process.
std::vector<HWND> VisibleWindows(DWORD pid);

// Waits for the process's error box, returns its text and closes it.
std::optional<std::wstring> TakeErrorBox(DWORD pid, DWORD timeout_ms = 20000);

std::string Narrow(const std::wstring& w);  // UTF-8

}  // namespace ramtidy_e2e
