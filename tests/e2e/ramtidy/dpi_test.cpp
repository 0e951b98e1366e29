// The plug-in's windows at the DPI of the prefix they run in (96, and 144 in a prefix of its own:
// ramtidy_e2e.RamtidyDpi.144dpi), and after a move to a monitor of the other scale.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "ramtidy_e2e.h"
#include "winutil.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace ramtidy_e2e {
namespace {

// The tests read the plug-in's windows in physical pixels, as a per-monitor aware program does:
// one that is not DPI-aware may be handed scaled coordinates (Windows does so; so may Wine).
const bool g_dpi_aware = [] {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto set_context = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // Per monitor v2, else per monitor (-3), else system aware.
    if (set_context &&
        (set_context(reinterpret_cast<HANDLE>(-4)) || set_context(reinterpret_cast<HANDLE>(-3))))
        return true;
    return SetProcessDPIAware() != FALSE;
}();

// The layouts in pixels, from the twips of the forms.
struct Layout {
    int dpi;
    SIZE status_client;  // Form1: 4695 x 390
    SIZE picture_outer;  // Picture1: 4695 x 375
    RECT label;          // Label1 within Picture1's client area: 1560, 30, 1575 x 375
    SIZE dialog_client;  // Form2: 4680 x 570
    RECT check, button;  // Check1: 120, 120, 3255 x 375; Command1: 3480, 120, 1095 x 375
};
const Layout kLayouts[] = {
    {96, {313, 26}, {313, 25}, {104, 2, 209, 27}, {312, 38}, {8, 8, 225, 33}, {232, 8, 305, 33}},
    // 469.5, 37.5, 157.5, 325.5 and 109.5 pixels: the halves go to the even neighbour.
    {144,
     {470, 39},
     {470, 38},
     {156, 3, 314, 41},
     {468, 57},
     {12, 12, 338, 50},
     {348, 12, 458, 50}},
};

const Layout* LayoutAt(int dpi) {
    for (const Layout& l : kLayouts)
        if (l.dpi == dpi)
            return &l;
    return nullptr;
}

// The DPI the prefix was set to (MK_EXPECT_DPI, from CTest), else the one the screen has.
int PrefixDpi() {
    const char* env = std::getenv("MK_EXPECT_DPI");
    return env && *env ? std::atoi(env) : ScreenDpi();
}

SIZE ClientSize(HWND hwnd) {
    RECT r = {};
    GetClientRect(hwnd, &r);
    return SIZE{r.right, r.bottom};
}
SIZE OuterSize(HWND hwnd) {
    RECT r = {};
    GetWindowRect(hwnd, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}
// A child's rectangle within its parent's client area.
RECT ChildRect(HWND child) {
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}
::testing::AssertionResult Same(const char* what, SIZE got, SIZE want) {
    if (got.cx == want.cx && got.cy == want.cy)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << what << " is " << got.cx << " x " << got.cy
                                         << ", the layout's " << want.cx << " x " << want.cy;
}
::testing::AssertionResult Same(const char* what, RECT got, RECT want) {
    if (EqualRect(&got, &want))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << what << " is (" << got.left << ", " << got.top << ")-(" << got.right << ", "
           << got.bottom << "), the layout's (" << want.left << ", " << want.top << ")-("
           << want.right << ", " << want.bottom << ")";
}

void ExpectStatusLayout(const StatusWindow& w, const Layout& l) {
    EXPECT_TRUE(Same("the status window's client area", ClientSize(w.form), l.status_client))
        << " at " << l.dpi << " DPI";
    EXPECT_TRUE(Same("Picture1", OuterSize(w.picture), l.picture_outer)) << " at " << l.dpi;
    EXPECT_TRUE(Same("Label1", ChildRect(w.label), l.label)) << " at " << l.dpi;
}

// Text as the screen shows it: the bounding box of the dark pixels, `inset` pixels or more away
// from the edges (a button's frame and focus rectangle lie nearer).
RECT InkBox(const Pixels& p, int inset) {
    RECT box = {p.width, p.height, 0, 0};
    for (int y = inset; y < p.height - inset; ++y)
        for (int x = inset; x < p.width - inset; ++x) {
            COLORREF c = p.At(x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 110) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
        }
    return box;
}

// The same text drawn here, black on white, in a bitmap of the given size.
Pixels Render(const std::wstring& text, const LOGFONTW& logfont, int width, int height,
              UINT format) {
    return DrawnPixels(width, height, [&](HDC mem) {
        PatBlt(mem, 0, 0, width, height, WHITENESS);
        HFONT font = CreateFontIndirectW(&logfont);
        HGDIOBJ old_font = SelectObject(mem, font);
        SetBkMode(mem, TRANSPARENT);
        SetTextColor(mem, RGB(0, 0, 0));
        RECT r = {0, 0, width, height};
        DrawTextW(mem, text.c_str(), static_cast<int>(text.size()), &r, format);
        SelectObject(mem, old_font);
        DeleteObject(font);
    });
}

LOGFONTW LabelFont(int dpi) {
    LOGFONTW lf = {};
    lf.lfHeight = -static_cast<LONG>(RoundHalfEven(14.25 * dpi / 72));
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = SHIFTJIS_CHARSET;
    lstrcpynW(lf.lfFaceName, L"ＭＳ Ｐゴシック", LF_FACESIZE);
    return lf;
}

// The system's message font at `dpi`, which the dialog's buttons are to use.
LOGFONTW MessageFont(int dpi) {
    NONCLIENTMETRICSW ncm = {};
    ncm.cbSize = sizeof ncm;
    auto for_dpi =
        reinterpret_cast<BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT)>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    if (for_dpi && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0, dpi))
        return ncm.lfMessageFont;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0);
    ncm.lfMessageFont.lfHeight = MulDiv(ncm.lfMessageFont.lfHeight, dpi, ScreenDpi());
    return ncm.lfMessageFont;
}

// The rows of a picture above `rows`.
Pixels Top(Pixels p, int rows) {
    if (rows < p.height) {
        p.height = rows < 0 ? 0 : rows;
        p.rgb.resize(static_cast<size_t>(p.width) * p.height);
    }
    return p;
}

// Expects the label's text in the label font made for `dpi`: its ink where a label drawn here
// with that font has it. The bar must be white under the label (before the first step). The
// label reaches below the picture box, which clips it: only the rows inside count.
void ExpectLabelFont(HWND label, int dpi) {
    if (!HasScreen())
        return;
    SIZE size = ClientSize(label);
    int rows = ClientSize(GetParent(label)).cy - ChildRect(label).top;
    Pixels want = Top(Render(L"0%", LabelFont(dpi), size.cx, size.cy,
                             DT_CENTER | DT_TOP | DT_WORDBREAK | DT_NOPREFIX),
                      rows);
    RECT want_box = InkBox(want, 0), got_box = {};
    ASSERT_FALSE(IsRectEmpty(&want_box));
    // The plug-in has painted before it held; the X server may still be drawing it.
    mk::test::WaitUntil([&] {
        got_box = InkBox(Top(ReadClient(label), rows), 0);
        return EqualRect(&got_box, &want_box) != FALSE;
    });
    EXPECT_TRUE(Same("the label's text", got_box, want_box)) << " at " << dpi << " DPI";
}

// Expects the button's caption in the message font for `dpi`: as wide and as high as the same
// caption drawn here in that font (the button centres it; its frame is left out).
void ExpectButtonFont(HWND button, int dpi) {
    if (!HasScreen())
        return;
    SIZE size = ClientSize(button);
    RECT want_box = InkBox(
        Render(L"了解", MessageFont(dpi), size.cx, size.cy, DT_CENTER | DT_VCENTER | DT_SINGLELINE),
        4);
    SIZE want = {want_box.right - want_box.left, want_box.bottom - want_box.top}, got = {};
    ASSERT_GT(want.cy, 0);
    mk::test::WaitUntil([&] {
        RECT box = InkBox(ReadClient(button), 4);
        got = SIZE{box.right - box.left, box.bottom - box.top};
        return std::abs(got.cx - want.cx) <= 1 && std::abs(got.cy - want.cy) <= 1;
    });
    EXPECT_NEAR(got.cx, want.cx, 1) << "the caption's width at " << dpi << " DPI";
    EXPECT_NEAR(got.cy, want.cy, 1) << "the caption's height at " << dpi << " DPI";
}

// Sends WM_DPICHANGED as the system does when a window has moved to a monitor of `dpi`, with
// the suggested rectangle in the receiver's memory: Wine hands this message's lParam to another
// process unchanged.
bool SendDpiChangedWith(HANDLE process, HWND hwnd, WPARAM wp, const RECT& suggested) {
    void* remote = VirtualAllocEx(process, nullptr, sizeof suggested, MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    if (!remote)
        return false;
    DWORD_PTR result = 0;
    bool sent = WriteProcessMemory(process, remote, &suggested, sizeof suggested, nullptr) &&
                SendMessageTimeoutW(hwnd, WM_DPICHANGED, wp, reinterpret_cast<LPARAM>(remote),
                                    SMTO_NORMAL, mk::test::RigLimit(), &result);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return sent;
}
bool SendDpiChanged(HANDLE process, HWND hwnd, int dpi, const RECT& suggested) {
    return SendDpiChangedWith(process, hwnd, MAKEWPARAM(dpi, dpi), suggested);
}
// WM_DPICHANGED with an lParam of the sender's choice, as any program can send it.
bool SendDpiChangedRaw(HWND hwnd, WPARAM wp, LPARAM lp) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(hwnd, WM_DPICHANGED, wp, lp, SMTO_NORMAL, mk::test::RigLimit(),
                               &result) != 0;
}

// Where the system would put the window on the other monitor: a little further on, its size
// scaled by the two DPIs. Wine keeps the frame's size, so this gives the status window a client
// area that differs from its layout at the new DPI.
RECT Suggested(HWND hwnd, int from_dpi, int to_dpi) {
    RECT r = {};
    GetWindowRect(hwnd, &r);
    OffsetRect(&r, 24, 16);
    r.right = r.left + MulDiv(r.right - r.left, to_dpi, from_dpi);
    r.bottom = r.top + MulDiv(r.bottom - r.top, to_dpi, from_dpi);
    return r;
}

void ExpectAt(HWND hwnd, const RECT& suggested) {
    RECT r = {};
    GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.left, suggested.left) << "not moved where the system suggested";
    EXPECT_EQ(r.top, suggested.top) << "not moved where the system suggested";
}

void CloseDialog(Dialog& d) {
    PostMessageW(d.form, WM_CLOSE, 0, 0);
    EXPECT_EQ(d.child->Wait(), 0u);
}

// The manifest at work: the window is per-monitor DPI aware (Wine 8 reports that of every
// window, manifest or not), and the buttons come from Common Controls 6: the side-by-side
// comctl32.dll, which the system loads for the first button, not the one in the system
// directory.
void ExpectPerMonitorAware(HWND form) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto context_of = reinterpret_cast<HANDLE(WINAPI*)(HWND)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    auto awareness_of = reinterpret_cast<int(WINAPI*)(HANDLE)>(reinterpret_cast<void (*)()>(
        GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (context_of && awareness_of) {
        EXPECT_EQ(awareness_of(context_of(form)), 2) << "the window is not per-monitor aware";
    }
}

void ExpectCommonControls6(DWORD pid) {
    std::wstring comctl;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    MODULEENTRY32W m = {};
    m.dwSize = sizeof m;
    for (BOOL ok = Module32FirstW(snap, &m); ok; ok = Module32NextW(snap, &m))
        if (lstrcmpiW(m.szModule, L"comctl32.dll") == 0)
            comctl = m.szExePath;
    CloseHandle(snap);
    for (auto& c : comctl)
        c = static_cast<wchar_t>(towlower(c));
    EXPECT_NE(comctl.find(L"\\winsxs\\"), std::wstring::npos)
        << "comctl32.dll is not the side-by-side one: " << Narrow(comctl);
}

// A run of about 200 steps; P moves by one every two steps.
std::wstring Run200() {
    return L"/" + std::to_wstring(200.25 / StepsPerPercent());
}

TEST(RamtidyDpi, WindowsAreLaidOutInTwipsAtThePrefixDpi) {
    ASSERT_TRUE(g_dpi_aware);
    const int dpi = PrefixDpi();
    ASSERT_EQ(ScreenDpi(), dpi) << "the prefix is not set to the DPI the test was started for";
    const Layout* l = LayoutAt(dpi);
    if (!l)
        GTEST_SKIP() << "no layout written down for " << dpi << " DPI";
    SettingGuard guard;
    SettingGuard::Remove();
    MascotSink sink;

    {
        HeldRun run(sink, Run200(), L"0");
        ASSERT_TRUE(run.child());
        ASSERT_TRUE(run.WaitFor("0"));
        StatusWindow w = FindStatusWindow(run.child()->pid());
        ASSERT_TRUE(w.form && w.picture && w.label);
        ExpectPerMonitorAware(w.form);
        ExpectStatusLayout(w, *l);
        ExpectLabelFont(w.label, dpi);
        run.Go();
        EXPECT_EQ(run.child()->Wait(mk::test::RigLimit(120000)), 0u);
    }

    Dialog d = OpenDialog(sink);
    ASSERT_TRUE(d.form && d.check && d.button);
    ExpectPerMonitorAware(d.form);
    ExpectCommonControls6(d.child->pid());
    EXPECT_TRUE(Same("the dialog's client area", ClientSize(d.form), l->dialog_client));
    EXPECT_TRUE(Same("Check1", ChildRect(d.check), l->check));
    EXPECT_TRUE(Same("Command1", ChildRect(d.button), l->button));
    ExpectButtonFont(d.button, dpi);
    CloseDialog(d);
    EXPECT_EQ(sink.Requests().size(), 1u);  // the run's report; the dialog sends nothing
}

TEST(RamtidyDpi, StatusWindowMovedToAnotherScaleLaysOutAndRedrawsTheBar) {
    ASSERT_TRUE(g_dpi_aware);
    const int dpi = PrefixDpi();
    const int other = dpi == 96 ? 144 : 96;
    const Layout *here = LayoutAt(dpi), *there = LayoutAt(other);
    if (!here)
        GTEST_SKIP() << "no layout written down for " << dpi << " DPI";
    SettingGuard guard;
    SettingGuard::Remove();
    MascotSink sink;
    const std::wstring sw = Run200();
    const double exact = ExactSteps(sw);
    const int k = 111;
    HeldRun run(sink, sw, L"0," + std::to_wstring(k) + L",release");
    ASSERT_TRUE(run.child());
    HANDLE process = run.child()->process();

    // Before the first step: a new layout, a new label font, the white bar.
    ASSERT_TRUE(run.WaitFor("0"));
    StatusWindow w = FindStatusWindow(run.child()->pid());
    ASSERT_TRUE(w.form && w.picture && w.label);
    RECT suggested = Suggested(w.form, dpi, other);
    ASSERT_TRUE(SendDpiChanged(process, w.form, other, suggested));
    ExpectAt(w.form, suggested);
    ExpectStatusLayout(w, *there);
    ExpectLabelFont(w.label, other);
    ExpectBar(w, 0, exact, other);
    run.Go();

    // The slices of the first k steps were drawn at the new DPI; back at the first one, the bar
    // is drawn again from them, at this DPI.
    ASSERT_TRUE(run.WaitFor(std::to_string(k)));
    ExpectBar(w, k, exact, other);
    suggested = Suggested(w.form, other, dpi);
    ASSERT_TRUE(SendDpiChanged(process, w.form, dpi, suggested));
    ExpectAt(w.form, suggested);
    ExpectStatusLayout(w, *here);
    ExpectBar(w, k, exact, dpi);
    run.Go();

    ASSERT_TRUE(run.WaitFor("release"));
    EXPECT_EQ(LabelText(w.label), "終了処理中");
    run.Go();
    EXPECT_EQ(run.child()->Wait(mk::test::RigLimit(120000)), 0u);
    EXPECT_EQ(sink.Requests().size(), 1u);
}

TEST(RamtidyDpi, DialogMovedToAnotherScaleTakesTheSuggestedSizeAndNewFont) {
    ASSERT_TRUE(g_dpi_aware);
    const int dpi = PrefixDpi();
    const int other = dpi == 96 ? 144 : 96;
    const Layout* there = LayoutAt(other);
    if (!LayoutAt(dpi))
        GTEST_SKIP() << "no layout written down for " << dpi << " DPI";
    MascotSink sink;
    Dialog d = OpenDialog(sink);
    ASSERT_TRUE(d.form && d.check && d.button);
    // The dialog can be resized: the suggested size stands. Here it is the one that gives the
    // layout's client area with this frame.
    RECT suggested = {}, client = {};
    GetWindowRect(d.form, &suggested);
    GetClientRect(d.form, &client);
    OffsetRect(&suggested, 24, 16);
    suggested.right += there->dialog_client.cx - client.right;
    suggested.bottom += there->dialog_client.cy - client.bottom;
    ASSERT_TRUE(SendDpiChanged(d.child->process(), d.form, other, suggested));
    ExpectAt(d.form, suggested);
    EXPECT_TRUE(Same("the dialog's client area", ClientSize(d.form), there->dialog_client));
    EXPECT_TRUE(Same("Check1", ChildRect(d.check), there->check));
    EXPECT_TRUE(Same("Command1", ChildRect(d.button), there->button));
    ExpectButtonFont(d.button, other);
    CloseDialog(d);
}

// WM_DPICHANGED as another program may send or post it: without a rectangle, with one at an
// address that cannot be read or one the system never suggests, with a DPI of 0, above the
// system's or different for the two axes. The window keeps its own DPI and its layout, takes a
// sound rectangle, and the run goes on to its report.
TEST(RamtidyDpi, ChangesWithoutARectangleOrWithAnImpossibleDpiKeepTheWindowsOwn) {
    ASSERT_TRUE(g_dpi_aware);
    const int dpi = PrefixDpi();
    const int other = dpi == 96 ? 144 : 96;
    const Layout* here = LayoutAt(dpi);
    if (!here)
        GTEST_SKIP() << "no layout written down for " << dpi << " DPI";
    SettingGuard guard;
    SettingGuard::Remove();
    MascotSink sink;
    HeldRun run(sink, Run200(), L"0,100");
    ASSERT_TRUE(run.child());
    ASSERT_TRUE(run.WaitFor("0"));
    StatusWindow w = FindStatusWindow(run.child()->pid());
    ASSERT_TRUE(w.form && w.picture && w.label);
    HANDLE process = run.child()->process();

    RECT place = {};
    GetWindowRect(w.form, &place);
    ASSERT_TRUE(SendDpiChangedRaw(w.form, MAKEWPARAM(other, other), 0));
    ASSERT_TRUE(SendDpiChangedRaw(w.form, MAKEWPARAM(other, other), 1));
    ASSERT_TRUE(SendDpiChangedWith(process, w.form, MAKEWPARAM(other, other),
                                   RECT{place.right, place.bottom, place.left, place.top}));
    ExpectAt(w.form, place);
    ExpectStatusLayout(w, *here);
    for (WPARAM wp : {MAKEWPARAM(0, 0), MAKEWPARAM(other, dpi), MAKEWPARAM(4800, 4800)}) {
        RECT suggested = Suggested(w.form, dpi, dpi);
        ASSERT_TRUE(SendDpiChangedWith(process, w.form, wp, suggested));
        ExpectAt(w.form, suggested);
        ExpectStatusLayout(w, *here);
    }
    ExpectLabelFont(w.label, dpi);
    run.Go();

    // Posted, as well: the run handles them while it claims, before the close box's message
    // posted after them hides the window.
    ASSERT_TRUE(PostMessageW(w.form, WM_DPICHANGED, MAKEWPARAM(other, other), 0));
    ASSERT_TRUE(PostMessageW(w.form, WM_DPICHANGED, 0, 0));
    ASSERT_TRUE(PostMessageW(w.form, WM_CLOSE, 0, 0));
    ASSERT_TRUE(run.WaitFor("100"));
    EXPECT_TRUE(mk::test::WaitUntil([&] { return !IsWindowVisible(w.form); }));
    ExpectStatusLayout(w, *here);
    run.Go();
    EXPECT_EQ(run.child()->Wait(mk::test::RigLimit(120000)), 0u);
    EXPECT_EQ(sink.Requests().size(), 1u);
}

TEST(RamtidyDpi, DialogKeepsItsOwnDpiForAChangeWithoutARectangle) {
    ASSERT_TRUE(g_dpi_aware);
    const int dpi = PrefixDpi();
    const int other = dpi == 96 ? 144 : 96;
    const Layout* here = LayoutAt(dpi);
    if (!here)
        GTEST_SKIP() << "no layout written down for " << dpi << " DPI";
    MascotSink sink;
    Dialog d = OpenDialog(sink);
    ASSERT_TRUE(d.form && d.check && d.button);
    ASSERT_TRUE(SendDpiChangedRaw(d.form, MAKEWPARAM(other, other), 0));
    ASSERT_TRUE(SendDpiChangedWith(d.child->process(), d.form, 0, Suggested(d.form, dpi, dpi)));
    EXPECT_TRUE(Same("the dialog's client area", ClientSize(d.form), here->dialog_client));
    EXPECT_TRUE(Same("Check1", ChildRect(d.check), here->check));
    EXPECT_TRUE(Same("Command1", ChildRect(d.button), here->button));
    ExpectButtonFont(d.button, dpi);
    // A post is handled before the close posted after it.
    ASSERT_TRUE(PostMessageW(d.form, WM_DPICHANGED, 0, 0));
    CloseDialog(d);
}

}  // namespace
}  // namespace ramtidy_e2e
