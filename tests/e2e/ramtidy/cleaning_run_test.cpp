// Cleaning runs: claim and release a share of the installed memory, then report before/after.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "ramtidy_e2e.h"
#include "winutil.h"

namespace ramtidy_e2e {
namespace {

struct Report {
    long total_kb = 0, before_kb = 0, after_kb = 0;
};

// Checks the bytes of a cleaning report against readings taken around the run. Free memory
// moves with the rest of the machine (512 MB of leeway), and the heap may keep the released
// blocks until the process ends, so the figure after the run may lie up to `run_mb` lower.
Report CheckCleanReport(const Received& r, const Memory& before, const Memory& after, long run_mb) {
    Report out;
    EXPECT_EQ(r.dw_data, 9801u);
    std::string text = mk::test::SjisToUtf8(r.bytes);
    std::smatch m;
    bool found = std::regex_search(
        text, m, std::regex("搭載メモリ：([0-9]+)KB\\\\n空きメモリ：([0-9]+)KB→([0-9]+)KB"));
    EXPECT_TRUE(found) << text;
    if (!found)
        return out;
    out = Report{std::stol(m[1]), std::stol(m[2]), std::stol(m[3])};
    EXPECT_EQ(out.total_kb, RoundHalfEven(before.total / 1024.0));
    long long lo = RoundHalfEven(std::min(before.avail, after.avail) / 1024.0) - 512 * 1024;
    long long hi = RoundHalfEven(std::max(before.avail, after.avail) / 1024.0) + 512 * 1024;
    EXPECT_GE(out.before_kb, lo);
    EXPECT_LE(out.before_kb, hi);
    EXPECT_GE(out.after_kb, lo - run_mb * 1024LL);
    EXPECT_LE(out.after_kb, hi);
    std::string script = "メモリクリーン完了～。\\n\\n搭載メモリ：" + std::to_string(out.total_kb) +
                         "KB\\n空きメモリ：" + std::to_string(out.before_kb) + "KB→" +
                         std::to_string(out.after_kb) + "KB\\e";
    EXPECT_EQ(r.bytes, ExpectedRequest(script, r.from));
    return out;
}

// "/1" when one per cent fits into one run (1024 steps of 1 MB); a smaller share otherwise.
double StepsPerPercent() {
    return RoundHalfEven(ReadMemory().total / 1024.0) / 1024.0 / 100;
}
std::wstring OnePercentSwitch() {
    double steps = StepsPerPercent();
    return steps <= 1024 ? L"/1" : L"/" + std::to_wstring(500.0 / steps);
}
long OnePercentMB() {
    return static_cast<long>(std::min(StepsPerPercent(), 500.0)) + 1;
}

Received RunAndReceive(const std::wstring& sw, Memory* before, Memory* after) {
    MascotSink sink;
    *before = ReadMemory();
    auto child = StartRamtidy(L"MK" + std::to_wstring(sink.handle()) + L" " + sw);
    EXPECT_TRUE(child);
    if (!child)
        return Received();
    EXPECT_EQ(child->Wait(120000), 0u);
    *after = ReadMemory();
    std::vector<Received> got = sink.Requests();
    EXPECT_EQ(got.size(), 1u);
    return got.empty() ? Received() : got[0];
}

TEST(RamtidyCleaningRun, ShownRunReportsBeforeAndAfter) {
    SettingGuard guard;
    SettingGuard::Remove();  // nothing stored: the window is shown
    Memory before, after;
    Received r = RunAndReceive(OnePercentSwitch(), &before, &after);
    CheckCleanReport(r, before, after, OnePercentMB());
    // The sender is the status window, still shown when the report goes out.
    EXPECT_TRUE(r.sender_is_window);
    EXPECT_TRUE(r.sender_visible);
    EXPECT_EQ(Narrow(r.sender_title), "メモリ清掃中～");
}

TEST(RamtidyCleaningRun, HiddenRunSendsTheSameReport) {
    SettingGuard guard;
    SettingGuard::Set(L"False");
    Memory before, after;
    Received r = RunAndReceive(OnePercentSwitch(), &before, &after);
    CheckCleanReport(r, before, after, OnePercentMB());
    EXPECT_TRUE(r.sender_is_window);
    EXPECT_FALSE(r.sender_visible);
    EXPECT_EQ(r.visible_windows_of_sender, 0);
    EXPECT_EQ(Narrow(r.sender_title), "メモリ清掃中～");
}

TEST(RamtidyCleaningRun, NoBlocksStillReports) {
    SettingGuard guard;
    SettingGuard::Set(L"False");
    for (const wchar_t* sw : {L"/0", L"/", L"/abc", L"/-5", L"/memstatus", L" /MEMSTATUS"}) {
        Memory before, after;
        Received r = RunAndReceive(sw, &before, &after);
        CheckCleanReport(r, before, after, 0);
    }
}

TEST(RamtidyCleaningRun, ClosingTheWindowDoesNotStopTheRun) {
    SettingGuard guard;
    SettingGuard::Remove();
    MascotSink sink;
    Memory before = ReadMemory();
    // A run of 800 steps, long enough to be closed in its middle.
    std::wstring sw = L"/" + std::to_wstring(800.25 / StepsPerPercent());
    auto child = StartRamtidy(L"MK" + std::to_wstring(sink.handle()) + L" " + sw);
    ASSERT_TRUE(child);
    HWND form1 = nullptr;
    ASSERT_TRUE(mk::test::WaitUntil([&] {
        std::vector<HWND> shown = VisibleWindows(child->pid());
        if (!shown.empty())
            form1 = shown[0];
        return form1 != nullptr || child->Wait(0) != STILL_ACTIVE;
    }));
    if (form1) {
        // The status window: a tool window of fixed size, client area 4695 x 390 twips.
        EXPECT_TRUE(GetWindowLongW(form1, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        EXPECT_FALSE(GetWindowLongW(form1, GWL_STYLE) & (WS_THICKFRAME | WS_MINIMIZEBOX));
        HDC dc = GetDC(nullptr);
        int dpi = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(nullptr, dc);
        RECT client;
        GetClientRect(form1, &client);
        EXPECT_EQ(client.right, static_cast<LONG>(RoundHalfEven(4695.0 * dpi / 1440)));
        EXPECT_EQ(client.bottom, static_cast<LONG>(RoundHalfEven(390.0 * dpi / 1440)));
    }
    DWORD_PTR result = 0;
    bool closed_mid_run = form1 &&
                          SendMessageTimeoutW(form1, WM_CLOSE, 0, 0, SMTO_NORMAL, 30000, &result) &&
                          sink.Requests().empty();
    EXPECT_EQ(child->Wait(120000), 0u);
    Memory after = ReadMemory();
    std::vector<Received> got = sink.Requests();
    ASSERT_EQ(got.size(), 1u);
    CheckCleanReport(got[0], before, after, 801);
    EXPECT_TRUE(got[0].sender_is_window);
    if (!closed_mid_run)
        std::printf("note: the run ended before it could be closed\n");
    if (closed_mid_run) {
        EXPECT_EQ(got[0].from, static_cast<long>(reinterpret_cast<intptr_t>(form1)));
        EXPECT_FALSE(got[0].sender_visible);
    }
}

}  // namespace
}  // namespace ramtidy_e2e
