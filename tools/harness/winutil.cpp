#include "winutil.h"

#include "text.h"

#include <cstdlib>

namespace mk::test {

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (done())
            return true;
        if (GetTickCount() - start >= timeout_ms)
            return false;
        Sleep(20);
    }
}

namespace {
struct ProcessWindows {
    DWORD pid;
    std::vector<HWND> found;
};
// A plain function: lambdas do not convert to the stdcall callbacks on 32-bit x86.
BOOL CALLBACK CollectProcessWindow(HWND h, LPARAM lp) {
    auto* c = reinterpret_cast<ProcessWindows*>(lp);
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    if (p == c->pid)
        c->found.push_back(h);
    return TRUE;
}
}  // namespace

std::vector<HWND> WindowsOfProcess(DWORD pid) {
    ProcessWindows ctx{pid, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

namespace {
BOOL CALLBACK CollectChildWindow(HWND h, LPARAM lp) {
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
    return TRUE;
}
}  // namespace

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectChildWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Utf8ToSjis(const std::string& utf8) {
    return mk::tools::Utf8ToSjis(utf8);
}
std::string SjisToUtf8(const std::string& sjis) {
    return mk::tools::SjisToUtf8(sjis);
}

std::string HexDecode(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

std::string Field(const std::string& line, const std::string& key) {
    std::string k = key + "=";
    size_t pos = 0;
    while ((pos = line.find(k, pos)) != std::string::npos) {
        if (pos == 0 || line[pos - 1] == ' ')
            break;
        pos += k.size();
    }
    if (pos == std::string::npos)
        return std::string();
    pos += k.size();
    if (key == "hex" || key == "title" || key == "args")
        return line.substr(pos);
    size_t end = line.find(' ', pos);
    return line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& lines,
                                    const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.push_back(line);
    return out;
}

std::vector<std::string> MenuItems(const std::string& line) {
    std::vector<std::string> items;
    size_t pos = line.find(" items=");
    if (pos == std::string::npos)
        return items;
    std::string rest = line.substr(pos + 7);
    size_t start = 0;
    for (;;) {
        size_t bar = rest.find('|', start);
        items.push_back(
            rest.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return items;
}

long long FieldLong(const std::string& line, const std::string& key) {
    return std::strtoll(Field(line, key).c_str(), nullptr, 10);
}

}  // namespace mk::test

namespace mk::test {

CopyDataSink::CopyDataSink() {
    InitializeCriticalSection(&lock_);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
}

CopyDataSink::~CopyDataSink() {
    if (hwnd_)
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    DeleteCriticalSection(&lock_);
}

std::vector<CopyDataSink::Request> CopyDataSink::Requests() {
    EnterCriticalSection(&lock_);
    std::vector<Request> copy = received_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI CopyDataSink::ThreadProc(LPVOID param) {
    auto* self = static_cast<CopyDataSink*>(param);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"MkTestCopyDataSink";
    RegisterClassW(&wc);
    self->hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"copydata sink", WS_OVERLAPPED, 0, 0, 0, 0,
                                  nullptr, nullptr, wc.hInstance, self);
    SetWindowLongPtrW(self->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    SetEvent(self->ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

LRESULT CALLBACK CopyDataSink::WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<CopyDataSink*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg == WM_COPYDATA && self) {
        // The sender waits in SendMessage while we are here, so its windows are as they were
        // at the moment of the send.
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        Request r;
        r.from = static_cast<long long>(static_cast<LONG_PTR>(wp));
        r.dw_data = static_cast<unsigned long>(cds->dwData);
        r.bytes.assign(static_cast<const char*>(cds->lpData), cds->cbData);
        HWND sender = reinterpret_cast<HWND>(wp);
        r.sender_is_window = IsWindow(sender) != FALSE;
        r.sender_visible = IsWindowVisible(sender) != FALSE;
        wchar_t title[256] = {};
        GetWindowTextW(sender, title, 256);
        r.sender_title = title;
        DWORD pid = 0;
        GetWindowThreadProcessId(sender, &pid);
        if (pid) {
            for (HWND w : WindowsOfProcess(pid))
                r.visible_windows_of_sender += IsWindowVisible(w) ? 1 : 0;
        }
        EnterCriticalSection(&self->lock_);
        self->received_.push_back(r);
        LeaveCriticalSection(&self->lock_);
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

}  // namespace mk::test
