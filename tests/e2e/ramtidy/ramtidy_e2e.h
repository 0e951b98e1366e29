// Helpers of the plug-in's end-to-end tests: a WM_COPYDATA target that records how the sender
// looked at the moment of the send, the saved setting, and the expected figures.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child.h"

namespace ramtidy_e2e {

// One received request, with what the sender's process showed while it waited for us.
struct Received {
    long from = 0;
    unsigned long dw_data = 0;
    std::string bytes;
    bool sender_is_window = false;
    bool sender_visible = false;
    std::wstring sender_title;
    int visible_windows_of_sender = 0;
};

// A window on a thread of its own that takes SSTP requests as the mascot window would.
class MascotSink {
public:
    MascotSink();
    ~MascotSink();
    MascotSink(const MascotSink&) = delete;
    MascotSink& operator=(const MascotSink&) = delete;
    HWND hwnd() const { return hwnd_; }
    long handle() const { return static_cast<long>(reinterpret_cast<intptr_t>(hwnd_)); }
    std::vector<Received> Requests();

private:
    static DWORD WINAPI Thread(LPVOID self);
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    HWND hwnd_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<Received> requests_;
};

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
