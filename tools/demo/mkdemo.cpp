// The suite end to end, as a user meets it, with the stand-ins in place of the controller and
// the mascot host and the real mkhook.dll and ramtidy.exe. Prints a transcript; exits non-zero
// if any step did not happen.
//
// Usage: mkdemo [SHOT-DIR]   (a screenshot of the cleaning run's status window is written
//                             there as ramtidy-status.bmp)
#include <windows.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child.h"
#include "mirekko/protocol.h"
#include "text.h"
#include "winutil.h"

using namespace mk::test;

namespace {

int g_failures = 0;
std::map<std::string, int> g_crossed;  // what crossed between the processes, by kind

void Say(const std::string& s) {
    std::printf("%s\n", s.c_str());
    std::fflush(stdout);
}

DWORD g_started;

void Step(const std::string& title) {
    char at[32];
    std::snprintf(at, sizeof at, "  [%.1f s]", (GetTickCount() - g_started) / 1000.0);
    Say("\n== " + title + at);
}

bool Check(bool ok, const std::string& what) {
    Say(std::string(ok ? "  ok    " : "  FAIL  ") + what);
    if (!ok)
        ++g_failures;
    return ok;
}

struct Proc {
    std::string name;
    std::unique_ptr<Child> child;

    // Waits for a line starting with `prefix`, shows it, and counts it.
    std::string Wait(const std::string& prefix, DWORD timeout_ms = RigLimit()) {
        std::string line;
        if (!child || !child->Expect(prefix, &line, timeout_ms)) {
            Check(false, name + " printed no \"" + prefix + "...\"");
            return std::string();
        }
        Show(line);
        return line;
    }
    void Show(const std::string& line) {
        std::string shown = line;
        if (shown.rfind("COPYDATA ", 0) == 0)
            shown = shown.substr(0, shown.find(" hex="));
        Say("  [" + name + "] " + shown);
        if (line.rfind("COPYDATA ", 0) == 0) {
            ++g_crossed["SSTP requests (WM_COPYDATA) to the mascot"];
            // The decoded text follows on "  | " lines.
            for (const auto& l : child->Unread(100)) {
                if (l.rfind("  | ", 0) == 0)
                    Say("  [" + name + "] " + l);
            }
        }
        for (const char* m : {"WM_USER+0", "WM_USER+1", "WM_USER+2", "WM_USER+3", "WM_USER+4"})
            if (line.rfind(std::string(m) + " ", 0) == 0 || line == m)
                ++g_crossed[std::string(m) + " to the controller"];
        if (line.rfind("PLUGIN pid=", 0) == 0)
            ++g_crossed["plug-in runs"];
    }
    void Send(const std::string& cmd) {
        Say("  > " + name + ": " + cmd);
        child->Send(cmd);
    }
};

Proc StartProc(const std::string& name, const std::wstring& exe, const std::wstring& args) {
    Proc p{name, Child::Start(BinPath(exe), args)};
    Check(p.child != nullptr, "started " + name);
    return p;
}

// Opens the host's context menu and checks where "Mirekko(&F)" went.
void OpenMenu(Proc& host, Proc& controller, size_t position, bool removedAtClose) {
    host.Send("menu");
    controller.Wait("WM_USER+3 ");
    std::string open = host.Wait("MENU open ");
    auto items = MenuItems(open);
    Check(items.size() > position && items[position] == "Mirekko(&F)",
          "\"Mirekko(&F)\" is item " + std::to_string(position) + " of the open menu");
    std::string closed = host.Wait("MENU closed ");
    auto after = MenuItems(closed);
    bool present = false;
    for (const auto& i : after)
        present |= i == "Mirekko(&F)";
    if (removedAtClose)
        Check(!present, "the item left the menu when it closed");
}

// Chooses a suite command; the controller starts the plug-in with it.
std::string Command(Proc& host, Proc& controller, unsigned id, long long mascot) {
    host.Send("command " + std::to_string(id));
    std::string cmd = controller.Wait("WM_USER+0 ");
    Check(FieldLong(cmd, "wParam") == mascot &&
              FieldLong(cmd, "lParam") == static_cast<long long>(id),
          "the controller got the command with the mascot window");
    return controller.Wait("PLUGIN pid=");
}

bool SaveWindowBitmap(HWND hwnd, const std::wstring& path) {
    RECT r;
    if (!GetWindowRect(hwnd, &r))
        return false;
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    DWORD stride = ((w * 3 + 3) & ~3), size = stride * h;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4d42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    bool ok = false;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD n;
        ok = WriteFile(f, &fh, sizeof fh, &n, nullptr) &&
             WriteFile(f, &bi.bmiHeader, sizeof bi.bmiHeader, &n, nullptr) &&
             WriteFile(f, bits, size, &n, nullptr);
        CloseHandle(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

HWND VisibleWindowOf(DWORD pid) {
    for (HWND h : WindowsOfProcess(pid))
        if (IsWindowVisible(h))
            return h;
    return nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring shots = argc > 1 ? argv[1] : BinDir();
    g_started = GetTickCount();
    Say("Mirekko demo: the controller and mascot host stand-ins with the real mkhook.dll and "
        "ramtidy.exe");

    Step(
        "1. The mascot host runs as ssp.exe; the controller loads mkhook.dll and starts the hooks");
    Proc host = StartProc("ssp.exe", L"ssp.exe", L"");
    std::string ready = host.Wait("READY ");
    long long mascot = FieldLong(ready, "tmainform");
    Proc ctl =
        StartProc("controller", L"mkctl.exe", L"--plugin \"" + BinPath(L"ramtidy.exe") + L"\"");
    ctl.Wait("WM_USER+2 ");
    ctl.Wait("HookStart result=");
    std::string cready = ctl.Wait("READY ");
    long long controller = FieldLong(cready, "hwnd");
    // Wine maps the library into the host on one of its later messages; wait for it.
    host.Send("hooked");
    Check(Field(host.Wait("HOOKED "), "mkhook") == "1", "mkhook.dll runs inside the host");

    Step("2. The mascot's context menu opens: the hook inserts \"Mirekko(&F)\" at position 2");
    OpenMenu(host, ctl, 2, true);

    Step("3. A suite command is chosen: the controller starts ramtidy with /MEMSTATUS");
    Command(host, ctl, 1000, mascot);
    std::string report = host.Wait("COPYDATA ");
    Check(FieldLong(report, "dwData") == MK_SSTP_COPYDATA_ID && FieldLong(report, "to") == mascot,
          "the mascot received the memory report");
    Check(Field(ctl.Wait("PLUGIN exit="), "exit") == "0", "ramtidy ended normally");

    Step("4. A cleaning run of 1% with its status window, then the before/after report");
    OpenMenu(host, ctl, 2, true);
    std::string plugin = Command(host, ctl, 1001, mascot);
    DWORD pid = static_cast<DWORD>(FieldLong(plugin, "pid"));
    HWND status = nullptr;
    WaitUntil([&] { return (status = VisibleWindowOf(pid)) != nullptr; });
    if (Check(status != nullptr, "the status window is shown")) {
        // A short run may end within a few hundred milliseconds. Picture the window with its
        // thread held, every 20 ms for 300 ms while it lasts, so that the last picture shows
        // as much of the bar as was painted and none is taken of a window that is gone.
        std::wstring shot = shots + L"\\ramtidy-status.bmp";
        HANDLE thread =
            OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(status, nullptr));
        bool written = false;
        for (int i = 0; thread && i < 15; ++i) {
            Sleep(20);
            SuspendThread(thread);
            bool shown = IsWindow(status);
            if (shown)
                written = SaveWindowBitmap(status, shot);
            ResumeThread(thread);
            if (!shown)
                break;
        }
        if (thread)
            CloseHandle(thread);
        Check(written, "screenshot written");
    }
    std::string clean = host.Wait("COPYDATA ", RigLimit(120000));
    Check(
        HexDecode(Field(clean, "hex")).find(Utf8ToSjis("メモリクリーン完了")) != std::string::npos,
        "the mascot received the cleaning report");
    Check(Field(ctl.Wait("PLUGIN exit="), "exit") == "0", "ramtidy ended normally");

    Step(
        "5. A file is dropped on the mascot: its path reaches the controller, which takes it as a "
        "plug-in file and calls MKShowMKIOK");
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // A Japanese name, as a user of a Japanese system has it.
    std::wstring file = std::wstring(temp) + L"メモリ掃除プラグイン.mkp";
    HANDLE f = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    std::string path = mk::tools::WideToUtf8(file);
    host.Send("drop tmainform " + path);
    std::string drop = ctl.Wait("WM_USER+4 ");
    Check(Field(drop, "title") == path && FieldLong(drop, "wParam") == mascot,
          "the controller's title held the dropped path");
    Check(ctl.Wait("DROPFILE ") == "DROPFILE opens=1", "the controller opened the dropped file");
    ctl.Wait("INSTALL ");
    ctl.Wait("MKShowMKIOK result=");
    Say("  (the notice follows four seconds later)");
    std::string notice = host.Wait("COPYDATA ");
    Check(FieldLong(notice, "from") == controller &&
              HexDecode(Field(notice, "hex")).rfind("SEND SSTP/1.4\r\n", 0) == 0,
          "the mascot announced the plug-in file");
    DeleteFileW(file.c_str());
    host.Send("quit");
    Check(host.child->CloseAndWait() == 0, "ssp.exe ended");

    Step(
        "6. The host as sakura.exe: the menu window is \"TPUtilWindow\", the mascot window comes "
        "from the shared memory \"Sakura\"");
    Proc sakura = StartProc("sakura.exe", L"sakura.exe", L"--first dev");
    std::string sready = sakura.Wait("READY ");
    long long smascot = FieldLong(sready, "tmainform");
    sakura.Send("hooked");
    Check(Field(sakura.Wait("HOOKED "), "mkhook") == "1", "mkhook.dll runs inside the host");
    OpenMenu(sakura, ctl, 4, false);
    Command(sakura, ctl, 1000, smascot);
    sakura.Wait("COPYDATA ");
    ctl.Wait("PLUGIN exit=");
    sakura.Send("quit");
    Check(sakura.child->CloseAndWait() == 0, "sakura.exe ended");

    Step("7. HookExit: the hooks go, every thread of the library has ended");
    ctl.Send("exit");
    std::string exit = ctl.Wait("HookExit ");
    Check(Field(exit, "threads") == "0", "no thread of the library left in the controller");
    ctl.Wait("UNLOADED");
    Check(ctl.child->CloseAndWait() == 0, "the controller ended");

    Step("Summary: what crossed between the processes");
    for (const auto& [what, count] : g_crossed)
        Say("  " + std::to_string(count) + " x " + what);
    Say("  " + std::to_string((GetTickCount() - g_started) / 1000) + " s");
    Say(g_failures ? "\nDEMO FAILED: " + std::to_string(g_failures) + " step(s) did not happen"
                   : "\nDEMO OK: every step happened");
    return g_failures ? 1 : 0;
}
