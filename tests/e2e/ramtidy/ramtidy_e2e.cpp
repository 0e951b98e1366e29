#include "ramtidy_e2e.h"

#include <cmath>

#include "winutil.h"

namespace ramtidy_e2e {
namespace {

const wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Orbel\\Memory Cleaner";
const wchar_t kSinkClass[] = L"RamtidyE2eSink";

BOOL CALLBACK CountVisible(HWND h, LPARAM lp) {
    auto* ctx = reinterpret_cast<std::pair<DWORD, int>*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == ctx->first && IsWindowVisible(h))
        ++ctx->second;
    return TRUE;
}

}  // namespace

MascotSink::MascotSink() {
    InitializeCriticalSection(&lock_);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &MascotSink::Thread, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
}

MascotSink::~MascotSink() {
    if (hwnd_)
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    DeleteCriticalSection(&lock_);
}

std::vector<Received> MascotSink::Requests() {
    EnterCriticalSection(&lock_);
    std::vector<Received> out = requests_;
    LeaveCriticalSection(&lock_);
    return out;
}

DWORD WINAPI MascotSink::Thread(LPVOID param) {
    auto* self = static_cast<MascotSink*>(param);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &MascotSink::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kSinkClass;
    RegisterClassW(&wc);
    self->hwnd_ = CreateWindowExW(0, kSinkClass, L"ramtidy e2e mascot", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(self->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    SetEvent(self->ready_);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}

LRESULT CALLBACK MascotSink::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<MascotSink*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_COPYDATA && self) {
        // The sender waits in SendMessage while we are here, so its windows are as they were
        // at the moment of the send.
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        Received r;
        r.from = static_cast<long>(wp);
        r.dw_data = static_cast<unsigned long>(data->dwData);
        r.bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
        HWND sender = reinterpret_cast<HWND>(wp);
        r.sender_is_window = IsWindow(sender) != FALSE;
        r.sender_visible = IsWindowVisible(sender) != FALSE;
        wchar_t title[256] = {};
        GetWindowTextW(sender, title, 256);
        r.sender_title = title;
        DWORD pid = 0;
        GetWindowThreadProcessId(sender, &pid);
        std::pair<DWORD, int> ctx{pid, 0};
        if (pid)
            EnumWindows(CountVisible, reinterpret_cast<LPARAM>(&ctx));
        r.visible_windows_of_sender = ctx.second;
        EnterCriticalSection(&self->lock_);
        self->requests_.push_back(r);
        LeaveCriticalSection(&self->lock_);
        return TRUE;
    }
    if (msg == WM_CLOSE) {
        DestroyWindow(hwnd);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

SettingGuard::SettingGuard() : saved_(Get()) {}

SettingGuard::~SettingGuard() {
    if (saved_)
        Set(*saved_);
    else
        Remove();
}

std::optional<std::wstring> SettingGuard::Get() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    wchar_t buf[256] = {};
    DWORD bytes = sizeof buf - sizeof(wchar_t), type = 0;
    LONG status =
        RegQueryValueExW(key, L"ShowWnd", nullptr, &type, reinterpret_cast<BYTE*>(buf), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    return std::wstring(buf);
}

void SettingGuard::Set(const std::wstring& text) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"ShowWnd", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void SettingGuard::Remove() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, L"ShowWnd");
    RegCloseKey(key);
}

std::unique_ptr<mk::test::Child> StartRamtidy(const std::wstring& args) {
    return mk::test::Child::Start(mk::test::BinPath(L"ramtidy.exe"), args);
}

Memory ReadMemory() {
    MEMORYSTATUSEX s = {};
    s.dwLength = sizeof s;
    GlobalMemoryStatusEx(&s);
    return Memory{s.ullTotalPhys, s.ullAvailPhys};
}

long long RoundHalfEven(double x) {
    return static_cast<long long>(std::nearbyint(x));
}

std::string ExpectedRequest(const std::string& script_utf8, long sender) {
    std::string hwnd = sender < 0 ? std::to_string(sender) : " " + std::to_string(sender);
    return mk::test::Utf8ToSjis("SEND SSTP/1.5\r\nSender: Mirekko\r\nScript: " + script_utf8 +
                                "\r\nHWnd:" + hwnd + "\r\nCharset: Shift_JIS\r\n");
}

std::vector<HWND> VisibleWindows(DWORD pid) {
    std::vector<HWND> out;
    for (HWND h : mk::test::WindowsOfProcess(pid))
        if (IsWindowVisible(h))
            out.push_back(h);
    return out;
}

std::optional<std::wstring> TakeErrorBox(DWORD pid, DWORD timeout_ms) {
    HWND box = nullptr;
    mk::test::WaitUntil(
        [&] {
            for (HWND h : VisibleWindows(pid)) {
                wchar_t cls[64] = {};
                GetClassNameW(h, cls, 64);
                if (std::wstring(cls) == L"#32770")
                    box = h;
            }
            return box != nullptr;
        },
        timeout_ms);
    if (!box)
        return std::nullopt;
    wchar_t title[128] = {};
    GetWindowTextW(box, title, 128);
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the message box's text control
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return std::wstring(title) + L"|" + text;
}

std::string Narrow(const std::wstring& w) {
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr,
                        nullptr);
    return out;
}

}  // namespace ramtidy_e2e
