#include "winutil.h"

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

namespace {
std::string Convert(const std::string& in, UINT from, UINT to) {
    if (in.empty())
        return std::string();
    int wn = MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    std::wstring w(wn, L'\0');
    MultiByteToWideChar(from, 0, in.data(), static_cast<int>(in.size()), &w[0], wn);
    int n = WideCharToMultiByte(to, 0, w.data(), wn, nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(to, 0, w.data(), wn, &out[0], n, nullptr, nullptr);
    return out;
}
}  // namespace

std::string Utf8ToSjis(const std::string& utf8) {
    return Convert(utf8, CP_UTF8, 932);
}
std::string SjisToUtf8(const std::string& sjis) {
    return Convert(sjis, 932, CP_UTF8);
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

long FieldLong(const std::string& line, const std::string& key) {
    return std::strtol(Field(line, key).c_str(), nullptr, 10);
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

std::vector<CopyDataSink::Request> CopyDataSink::Received() {
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
        auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        Request r{static_cast<long>(wp), static_cast<unsigned long>(cds->dwData),
                  std::string(static_cast<const char*>(cds->lpData), cds->cbData)};
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
