// Helpers of the plug-in's end-to-end tests: a WM_COPYDATA target that records how the sender
// looked at the moment of the send, the saved setting, and the expected figures.
#pragma once

#include <windows.h>

#include <functional>
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
    // The value's bytes as given: an odd count, no terminating zero, another type.
    static void SetRaw(const std::string& bytes, DWORD type = REG_SZ);
    static void Remove();

private:
    std::optional<std::wstring> saved_;
};

// The plug-in as it ships, and its test build with the cleaning run's hold points.
std::unique_ptr<mk::test::Child> StartRamtidy(const std::wstring& args);
std::unique_ptr<mk::test::Child> StartRamtidyTestHold(const std::wstring& args);

// The settings dialog of a "/SETTING" started towards `sink`, with its two controls; null
// handles for what was not found.
struct Dialog {
    std::unique_ptr<mk::test::Child> child;
    HWND form = nullptr, check = nullptr, button = nullptr;
};
Dialog OpenDialog(const MascotSink& sink,
                  const std::wstring& exe = mk::test::BinPath(L"ramtidy.exe"));

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
std::string ExpectedRequest(const std::string& script_utf8, long long sender);

// The exact step count of a switch, computed as the plug-in computes it, and the steps of a run
// of one per cent of the installed memory.
double ExactSteps(const std::wstring& sw);
double StepsPerPercent();

// A run of the test build started with hold points (RAMTIDY_HOLD, RAMTIDY_HOLD_FILE): at each
// point the plug-in writes the point's name into the marker file and waits until the file is
// deleted.
class HeldRun {
public:
    HeldRun(const MascotSink& sink, const std::wstring& sw, const std::wstring& points);
    ~HeldRun();
    HeldRun(const HeldRun&) = delete;
    HeldRun& operator=(const HeldRun&) = delete;
    mk::test::Child* child() { return child_.get(); }

    // Waits until the run holds at `point`; false if it ended or held elsewhere first.
    bool WaitFor(const std::string& point);
    void Go();

private:
    std::string Marker();
    std::wstring marker_;
    std::unique_ptr<mk::test::Child> child_;
};

// The status window and its controls: Picture1 is its one child, Label1 the picture's.
struct StatusWindow {
    HWND form = nullptr, picture = nullptr, label = nullptr;
};
StatusWindow FindStatusWindow(DWORD pid);

// The label as another program reads it: from the window text, without a message to the
// plug-in's thread.
std::string LabelText(HWND label);

// The screen's DPI as this test program sees it, and twips in pixels at a DPI.
int ScreenDpi();
int TwipsToPx(double twips, int dpi = ScreenDpi());

// Under Xvfb the windows are on a screen the test can read; without a display the prefix uses
// Wine's null driver, which draws nothing anywhere.
bool HasScreen();

// A window's client area as it shows on the screen, row by row.
struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> rgb;
    COLORREF At(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};
Pixels ReadClient(HWND hwnd);
// What `draw` paints into a 32-bit bitmap of the given size, row by row.
Pixels DrawnPixels(int width, int height, const std::function<void(HDC)>& draw);

// Expects the bar after `steps` steps of a run of exact length `exact`, drawn at `dpi`: the
// slices the run drew, each in its colour, then white.
void ExpectBar(const StatusWindow& w, int steps, double exact, int dpi = ScreenDpi());

// Top-level visible windows of a process.
std::vector<HWND> VisibleWindows(DWORD pid);

// Waits for the process's error box, returns its text and closes it.
std::optional<std::wstring> TakeErrorBox(DWORD pid, DWORD timeout_ms = mk::test::RigLimit());

std::string Narrow(const std::wstring& w);  // UTF-8

}  // namespace ramtidy_e2e
