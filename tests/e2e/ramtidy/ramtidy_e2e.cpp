#include "ramtidy_e2e.h"

#include <cmath>

#include "text.h"
#include "winutil.h"

namespace ramtidy_e2e {
namespace {

const wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Orbel\\Memory Cleaner";

}  // namespace

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
    return mk::tools::WideToUtf8(w);
}

}  // namespace ramtidy_e2e
