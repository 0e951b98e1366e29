#include "ramtidy_e2e.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cwchar>

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

void SettingGuard::SetRaw(const std::string& bytes, DWORD type) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, L"ShowWnd", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
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

std::unique_ptr<mk::test::Child> StartRamtidyTestHold(const std::wstring& args) {
    return mk::test::Child::Start(mk::test::BinPath(L"ramtidy_testhold.exe"), args);
}

Dialog OpenDialog(const MascotSink& sink, const std::wstring& exe) {
    Dialog d;
    d.child = mk::test::Child::Start(exe, L"MK" + std::to_wstring(sink.handle()) + L" /SETTING");
    if (!d.child)
        return d;
    mk::test::WaitUntil([&] {
        for (HWND h : VisibleWindows(d.child->pid()))
            d.form = h;
        return d.form != nullptr;
    });
    if (!d.form)
        return d;
    for (HWND h : mk::test::ChildWindows(d.form)) {
        LONG type = GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK;
        if (type == BS_AUTOCHECKBOX)
            d.check = h;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)
            d.button = h;
    }
    return d;
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

std::string ExpectedRequest(const std::string& script_utf8, long long sender) {
    std::string hwnd = sender < 0 ? std::to_string(sender) : " " + std::to_string(sender);
    return mk::test::Utf8ToSjis("SEND SSTP/1.5\r\nSender: Mirekko\r\nScript: " + script_utf8 +
                                "\r\nHWnd:" + hwnd + "\r\nCharset: Shift_JIS\r\n");
}

double ExactSteps(const std::wstring& sw) {
    double total_kb = static_cast<double>(RoundHalfEven(ReadMemory().total / 1024.0));
    return total_kb / 1024 * std::wcstod(sw.c_str() + 1, nullptr) / 100;
}

double StepsPerPercent() {
    return RoundHalfEven(ReadMemory().total / 1024.0) / 1024.0 / 100;
}

HeldRun::HeldRun(const MascotSink& sink, const std::wstring& sw, const std::wstring& points) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    marker_ = std::wstring(temp) + L"ramtidy-hold-" + std::to_wstring(GetCurrentProcessId());
    DeleteFileW(marker_.c_str());
    SetEnvironmentVariableW(L"RAMTIDY_HOLD", points.c_str());
    SetEnvironmentVariableW(L"RAMTIDY_HOLD_FILE", marker_.c_str());
    child_ = StartRamtidyTestHold(L"MK" + std::to_wstring(sink.handle()) + L" " + sw);
    SetEnvironmentVariableW(L"RAMTIDY_HOLD", nullptr);
    SetEnvironmentVariableW(L"RAMTIDY_HOLD_FILE", nullptr);
}

HeldRun::~HeldRun() {
    DeleteFileW(marker_.c_str());
    if (child_)
        child_->Kill();
}

bool HeldRun::WaitFor(const std::string& point) {
    std::string at;
    mk::test::WaitUntil([&] {
        at = Marker();
        return !at.empty() || !child_ || child_->Wait(0) != STILL_ACTIVE;
    });
    EXPECT_EQ(at, point);
    return at == point;
}

void HeldRun::Go() {
    // The run goes on once the marker is gone; a marker left behind would be read again as the
    // next point, so a deletion that fails is tried again and, failing still, named. Once it
    // succeeds, nothing more is deleted: the next marker may already be the run's next point.
    DWORD error = 0;
    bool gone = mk::test::WaitUntil([&] {
        if (DeleteFileW(marker_.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
        error = GetLastError();
        return false;
    });
    EXPECT_TRUE(gone) << "the hold marker could not be deleted, error " << error;
}

std::string HeldRun::Marker() {
    HANDLE f = CreateFileW(marker_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return std::string();
    char buf[32] = {};
    DWORD n = 0;
    ReadFile(f, buf, sizeof buf - 1, &n, nullptr);
    CloseHandle(f);
    return std::string(buf, n);
}

StatusWindow FindStatusWindow(DWORD pid) {
    StatusWindow w;
    for (HWND h : mk::test::WindowsOfProcess(pid)) {
        wchar_t title[64] = {};
        GetWindowTextW(h, title, 64);
        if (Narrow(title) == "メモリ清掃中～")
            w.form = h;
    }
    w.picture = w.form ? GetWindow(w.form, GW_CHILD) : nullptr;
    w.label = w.picture ? GetWindow(w.picture, GW_CHILD) : nullptr;
    return w;
}

std::string LabelText(HWND label) {
    wchar_t text[64] = {};
    GetWindowTextW(label, text, 64);
    return Narrow(text);
}

int ScreenDpi() {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(nullptr, dc);
    return dpi;
}

int TwipsToPx(double twips, int dpi) {
    return static_cast<int>(RoundHalfEven(twips * dpi / 1440));
}

bool HasScreen() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return true;
    wchar_t value[32] = {};
    DWORD bytes = sizeof value - sizeof(wchar_t);
    bool null_driver = RegQueryValueExW(key, L"Graphics", nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(value), &bytes) == ERROR_SUCCESS &&
                       std::wstring(value) == L"null";
    RegCloseKey(key);
    return !null_driver;
}

Pixels DrawnPixels(int width, int height, const std::function<void(HDC)>& draw) {
    Pixels p;
    p.width = width;
    p.height = height;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    draw(mem);
    GdiFlush();
    auto* px = static_cast<const DWORD*>(bits);
    for (int i = 0; bits && i < width * height; ++i)
        p.rgb.push_back(RGB((px[i] >> 16) & 0xFF, (px[i] >> 8) & 0xFF, px[i] & 0xFF));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return p;
}

Pixels ReadClient(HWND hwnd) {
    RECT client;
    POINT origin = {0, 0};
    if (!GetClientRect(hwnd, &client) || !ClientToScreen(hwnd, &origin))
        return Pixels();
    return DrawnPixels(client.right, client.bottom, [&](HDC mem) {
        HDC screen = GetDC(nullptr);
        BitBlt(mem, 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
        ReleaseDC(nullptr, screen);
    });
}

namespace {

bool Near(COLORREF a, COLORREF b) {
    auto d = [](int x, int y) { return x > y ? x - y : y - x; };
    return d(GetRValue(a), GetRValue(b)) <= 8 && d(GetGValue(a), GetGValue(b)) <= 8 &&
           d(GetBValue(a), GetBValue(b)) <= 8;
}

// The first difference between the bar on the screen and the expected one, or "" when there is
// none.
std::string BarDifference(const Pixels& p, int steps, double exact, int picture_outer_px, int dpi) {
    if (p.width == 0)
        return "the picture box was not found on the screen";
    long w = static_cast<long>(RoundHalfEven(picture_outer_px * 1440.0 / dpi / 100));
    auto colour = [](long percent) {
        auto clamp = [](long long v) { return static_cast<int>(v < 0 ? 0 : v > 255 ? 255 : v); };
        return RGB(0, clamp(RoundHalfEven(256 - 2.56 * percent)),
                   clamp(RoundHalfEven(2.56 * percent)));
    };
    const int row = 1;  // above the label, which begins 30 twips down
    long drawn = 0;
    char what[160];
    for (int i = 1; i <= steps; ++i) {
        long percent = static_cast<long>(RoundHalfEven(i / exact * 100));
        if (percent == drawn)
            continue;
        int x1 = TwipsToPx(w * drawn, dpi), x2 = TwipsToPx(w * percent, dpi);
        for (int x = x1 + 1; x < x2 && x < p.width; ++x)
            if (!Near(p.At(x, row), colour(percent))) {
                std::snprintf(what, sizeof what, "pixel %d of the slice to %ld%% is %06lx", x,
                              percent, static_cast<unsigned long>(p.At(x, row)));
                return what;
            }
        drawn = percent;
    }
    for (int x = TwipsToPx(w * drawn, dpi) + 2; x < p.width; ++x)
        if (!Near(p.At(x, row), RGB(255, 255, 255))) {
            std::snprintf(what, sizeof what, "pixel %d after the bar (to %ld%%) is %06lx", x, drawn,
                          static_cast<unsigned long>(p.At(x, row)));
            return what;
        }
    return std::string();
}

}  // namespace

void ExpectBar(const StatusWindow& w, int steps, double exact, int dpi) {
    if (!HasScreen()) {
        std::printf("note: no screen, the bar's pixels are not checked\n");
        return;
    }
    RECT outer;
    GetWindowRect(w.picture, &outer);
    std::string difference;
    // The plug-in has painted before it held; the X server may still be drawing it.
    mk::test::WaitUntil([&] {
        difference =
            BarDifference(ReadClient(w.picture), steps, exact, outer.right - outer.left, dpi);
        return difference.empty();
    });
    EXPECT_EQ(difference, "") << "after step " << steps << " at " << dpi << " DPI";
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
