#include "Form1.h"

#include <windows.h>

#include <chrono>
#include <string>

#include "HoldPoints.h"
#include "Module1.h"
#include "Progress.h"
#include "Scripts.h"

namespace ramtidy {

Form1Type Form1;

bool Form1Type::Create() {
    if (!form.Create(L"メモリ清掃中～", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW,
                     4695, 390, false))
        return false;
    // Closing the window during a run must not stop the run, nor take away the sender
    // window of its report: the close box only hides it.
    form.on_close = [this] { form.Hide(); };
    if (!Picture1.Create(form, 0, 0, 4695, 375))
        return false;
    return Label1.Create(Picture1, 1560, 30, 1575, 375, L"ＭＳ Ｐゴシック", 14.25, true,
                         SHIFTJIS_CHARSET, L"0%");
}

namespace {

// The run yields at every 100th block it claims and after every step it releases, but skips
// a yield that comes less than 10 ms after the one before. Under Wine every look at the message
// queue is a round trip to the server, worth about 25 claims: ten looks per megabyte slowed the
// claiming by a quarter, and one look per step still took 2 to 8 % of a run. Served every
// 10 ms, the windows still paint and answer faster than a screen refreshes.
class YieldClock {
public:
    bool Due() {
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(10))
            return false;
        last_ = now;
        return true;
    }

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

#ifdef RAMTIDY_TEST_HOLDS
// The test build (ramtidy_testhold.exe) holds the run at the points RAMTIDY_HOLD names, when
// RAMTIDY_HOLD_FILE names a marker file: at each point the run paints its window, writes the
// point's name into the file and serves its windows until the file is deleted, for at most a
// minute. The shipped program has none of it: no variable of its environment makes it touch a
// file.
class Hold {
public:
    Hold() {
        std::wstring points = Environment(L"RAMTIDY_HOLD");
        file_ = Environment(L"RAMTIDY_HOLD_FILE");
        if (!points.empty() && !file_.empty())
            points_ = ParseHoldPoints(std::u16string(points.begin(), points.end()));
    }
    bool BeforeClaims() const { return points_.before_claims; }
    bool BeforeRelease() const { return points_.before_release; }
    int32_t NextStepAfter(int32_t step) const { return points_.NextStepAfter(step); }

    void At(const std::wstring& name) {
        forms::DoEvents();
        if (HWND form = Form1.form.hwnd())
            RedrawWindow(form, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        if (!WriteMarker(name))
            return;  // nobody could see the hold end
        ULONGLONG deadline = GetTickCount64() + 60000;
        while (GetFileAttributesW(file_.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (GetTickCount64() >= deadline) {
                DeleteFileW(file_.c_str());
                break;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            forms::DoEvents();
        }
    }

private:
    static std::wstring Environment(const wchar_t* name) {
        wchar_t buf[1024];
        DWORD n = GetEnvironmentVariableW(name, buf, 1024);
        return n > 0 && n < 1024 ? std::wstring(buf, n) : std::wstring();
    }

    // Whoever waits for the marker sees it appear with its whole content.
    bool WriteMarker(const std::wstring& name) const {
        std::wstring temp = file_ + L".tmp";
        HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE)
            return false;
        std::string bytes(name.begin(), name.end());  // a number or "release"
        DWORD written = 0;
        bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
        if (ok)
            ok = MoveFileExW(temp.c_str(), file_.c_str(), MOVEFILE_REPLACE_EXISTING);
        if (!ok)
            DeleteFileW(temp.c_str());
        return ok;
    }

    HoldPoints points_;
    std::wstring file_;
};
#else
// The shipped program never holds; the compiler drops every hold point.
class Hold {
public:
    bool BeforeClaims() const { return false; }
    bool BeforeRelease() const { return false; }
    int32_t NextStepAfter(int32_t) const { return kNoHoldStep; }
    void At(const std::wstring&) {}
};
#endif

void DrawSlice(int32_t from_percent, int32_t to_percent) {
    Slice s = SliceFor(Form1.Picture1.OuterWidthTwips(), from_percent, to_percent);
    float height = Form1.Picture1.OuterHeightTwips();
    Form1.Picture1.FillBox(s.x1, 0, s.x2, height, s.r, s.g, s.b);
}

}  // namespace

void RunMemoryClean(const std::u16string& switch_text, bool show_window) {
    Hold hold;
    if (show_window)
        Form1.form.Show();

    MemoryFigures before = ReadMemoryStatus();
    int32_t total_kb = KilobytesOf(before.total);
    int32_t free_before_kb = KilobytesOf(before.avail);

    StepPlan plan = PlanSteps(total_kb, PercentOfSwitch(switch_text));
    if (hold.BeforeClaims())
        hold.At(L"0");
    int32_t next_hold = hold.NextStepAfter(0);
    YieldClock yield_clock;
    int32_t drawn = 0;  // Q
    for (int32_t i = 1; i <= plan.count; ++i) {
        BlockHandle* row = BlockHandles + static_cast<size_t>(i) * (kBlocksPerStep + 1);
        // P depends on the step only. The label and the slice of a step are set before its
        // first block rather than after each block: the windows only see them at a yield, and
        // no yield comes before the step's 100th block, so nothing can tell the two apart, while
        // a million comparisons of the label text are saved.
        int32_t percent = ProgressPercent(i, plan.exact);
        Form1.Label1.SetText(Wide(PercentLabel(percent)));
        if (percent != drawn) {
            DrawSlice(drawn, percent);
            drawn = percent;
        }
        for (int32_t j = 1; j <= kBlocksPerStep; ++j) {
            // The blocks are only held, never written: a failed claim (0) is stored as well
            // and later handed to GlobalFree, which ignores it.
            row[j] = static_cast<BlockHandle>(
                reinterpret_cast<intptr_t>(GlobalAlloc(GMEM_FIXED, kBlockBytes)));
            if (j % 100 == 0 && yield_clock.Due())
                forms::DoEvents();
        }
        if (i == next_hold) {
            hold.At(std::to_wstring(i));
            next_hold = hold.NextStepAfter(i);
        }
    }

    Form1.Label1.SetText(L"終了処理中");
    if (hold.BeforeRelease())
        hold.At(L"release");
    // The same plan as above: a clamped run releases the 1024 steps it claimed.
    int32_t steps = PlanSteps(total_kb, PercentOfSwitch(switch_text)).count;
    for (int32_t i = 1; i <= steps; ++i) {
        BlockHandle* row = BlockHandles + static_cast<size_t>(i) * (kBlocksPerStep + 1);
        for (int32_t j = 1; j <= kBlocksPerStep; ++j)
            GlobalFree(reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(row[j])));
        if (yield_clock.Due())
            forms::DoEvents();
    }

    int32_t free_after_kb = KilobytesOf(ReadMemoryStatus().avail);
    SendSstpScript(CleanReportScript(total_kb, free_before_kb, free_after_kb));
}

}  // namespace ramtidy
