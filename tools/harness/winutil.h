// Small Win32 helpers shared by the end-to-end tests and the demo.
#pragma once

#include <windows.h>

#include "rig.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mk::test {

// Polls `done` every 20 ms until it holds or `timeout_ms` has passed.
bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms = mk::tools::RigLimit());

using mk::tools::RigLimit;

// Top-level windows of a process (visible or not).
std::vector<HWND> WindowsOfProcess(DWORD pid);
// Every descendant window of `parent`.
std::vector<HWND> ChildWindows(HWND parent);

std::string Utf8ToSjis(const std::string& utf8);
std::string SjisToUtf8(const std::string& sjis);
std::string HexDecode(const std::string& hex);

// Value of `key=` in a line of words, up to the next blank ("" when absent); for `hex=` and
// `title=` that come last, up to the end of the line.
std::string Field(const std::string& line, const std::string& key);
// As a number; handles are printed at the width of a pointer, so this reads 64 bits.
long long FieldLong(const std::string& line, const std::string& key);

// The lines of `lines` that begin with `prefix`.
std::vector<std::string> WithPrefix(const std::vector<std::string>& lines,
                                    const std::string& prefix);
// The items of a host's "MENU <when> count=N items=a|b|c" line.
std::vector<std::string> MenuItems(const std::string& line);

// Mascot handle texts beyond the range of the build's window handles (32 or 64 bits), which
// the plug-in reads at their width: far beyond, and the first value past the end.
#ifdef _WIN64
inline const wchar_t kHandleFarBeyondRange[] = L"99999999999999999999";
inline const wchar_t kHandleJustPastRange[] = L"9223372036854775808";
#else
inline const wchar_t kHandleFarBeyondRange[] = L"99999999999";
inline const wchar_t kHandleJustPastRange[] = L"2147483647.5";
#endif

}  // namespace mk::test

namespace mk::test {

// A window of the test process, on a thread of its own, that takes SSTP requests as the
// mascot window would and records each WM_COPYDATA it receives, with how the sender looked at
// the moment of the send.
class CopyDataSink {
public:
    struct Request {
        long long from = 0;
        unsigned long dw_data = 0;
        std::string bytes;
        bool sender_is_window = false;
        bool sender_visible = false;
        std::wstring sender_title;
        int visible_windows_of_sender = 0;
    };
    CopyDataSink();
    ~CopyDataSink();
    CopyDataSink(const CopyDataSink&) = delete;
    CopyDataSink& operator=(const CopyDataSink&) = delete;
    HWND hwnd() const { return hwnd_; }
    long long handle() const { return static_cast<long long>(reinterpret_cast<intptr_t>(hwnd_)); }
    std::vector<Request> Requests();

private:
    static DWORD WINAPI ThreadProc(LPVOID self);
    static LRESULT CALLBACK WndProc(HWND, UINT, WPARAM, LPARAM);
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    HWND hwnd_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<Request> received_;
};

}  // namespace mk::test
