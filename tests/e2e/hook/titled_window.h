// A window of the test process, on a thread of its own, titled as the controller's window
// ("MK_GETMSG_WND"): an impostor that the library must pass over, or a controller that takes
// every drop and never answers it. It records the controller's messages it receives.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "mirekko/protocol.h"
#include "text.h"
#include "winutil.h"

namespace mk::test {

class TitledWindow {
public:
    enum class Drops {
        Answer,       // handled at once, the title taken back
        NeverAnswer,  // WM_USER+4 never returns until the window goes; only the messages sent
                      // to it are served meanwhile (a title set, further drops), as a
                      // controller caught in a loop of its own
    };
    explicit TitledWindow(Drops drops = Drops::Answer) : drops_(drops) {
        InitializeCriticalSection(&lock_);
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        release_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
        WaitForSingleObject(ready_, mk::tools::RigLimit());
    }
    ~TitledWindow() {
        SetEvent(release_);
        if (hwnd_)
            PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, mk::tools::RigLimit());
        CloseHandle(thread_);
        CloseHandle(release_);
        CloseHandle(ready_);
        DeleteCriticalSection(&lock_);
    }
    TitledWindow(const TitledWindow&) = delete;
    TitledWindow& operator=(const TitledWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    long long handle() const { return static_cast<long long>(reinterpret_cast<intptr_t>(hwnd_)); }
    // One line per message of the controller's protocol and per WM_COPYDATA:
    // "WM_USER+<n> wParam=<w> title=<title then>" or "WM_COPYDATA from=<w>".
    std::vector<std::string> Received() {
        EnterCriticalSection(&lock_);
        std::vector<std::string> copy = received_;
        LeaveCriticalSection(&lock_);
        return copy;
    }
    // The title as the system keeps it, read without a message to the window's thread.
    std::string Title() const {
        wchar_t title[1024] = L"";
        InternalGetWindowText(hwnd_, title, 1024);
        return mk::tools::WideToUtf8(title);
    }

private:
    static DWORD WINAPI ThreadProc(LPVOID param) {
        auto* self = static_cast<TitledWindow*>(param);
        WNDCLASSW wc = {};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"MkTestTitledWindow";
        RegisterClassW(&wc);
        self->hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"" MK_CONTROLLER_TITLE, WS_OVERLAPPED,
                                      0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(self->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        SetEvent(self->ready_);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        return 0;
    }

    void Record(const std::string& line) {
        EnterCriticalSection(&lock_);
        received_.push_back(line);
        LeaveCriticalSection(&lock_);
    }

    static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<TitledWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
        if (self && msg >= MK_WM_COMMAND && msg <= MK_WM_DROPFILE) {
            char title[1024] = "";
            GetWindowTextA(h, title, sizeof title);
            self->Record("WM_USER+" + std::to_string(msg - MK_WM_COMMAND) +
                         " wParam=" + std::to_string(static_cast<long long>(wp)) +
                         " title=" + SjisToUtf8(title));
            if (msg == MK_WM_DROPFILE && self->drops_ == Drops::NeverAnswer) {
                while (WaitForSingleObject(self->release_, 0) == WAIT_TIMEOUT) {
                    MsgWaitForMultipleObjects(1, &self->release_, FALSE, INFINITE, QS_SENDMESSAGE);
                    MSG m;
                    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
                }
            } else if (msg == MK_WM_DROPFILE) {
                SetWindowTextA(h, MK_CONTROLLER_TITLE);
            }
            return 0;
        }
        if (self && msg == WM_COPYDATA) {
            self->Record("WM_COPYDATA from=" + std::to_string(static_cast<long long>(wp)));
            return TRUE;
        }
        if (msg == WM_CLOSE) {
            DestroyWindow(h);
            return 0;
        }
        if (msg == WM_DESTROY)
            PostQuitMessage(0);
        return DefWindowProcW(h, msg, wp, lp);
    }

    Drops drops_;
    HANDLE thread_ = nullptr, ready_ = nullptr, release_ = nullptr;
    HWND hwnd_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<std::string> received_;
};

}  // namespace mk::test
