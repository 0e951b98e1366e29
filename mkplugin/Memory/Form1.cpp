#include "Form1.h"

#include <windows.h>

#include <chrono>

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
    if (!Picture1.Create(form.hwnd(), 0, 0, 4695, 375))
        return false;
    return Label1.Create(Picture1, 1560, 30, 1575, 375, L"ＭＳ Ｐゴシック", 14.25, true,
                         SHIFTJIS_CHARSET, L"0%");
}

namespace {

// The claim yields at every 100th block, but skips a yield that comes less than a millisecond
// after the one before: the windows are still served at least every millisecond of claiming,
// while under Wine, where looking at the message queue is a round trip to the server (about
// 25 claims' worth), ten looks per megabyte would slow the claiming by a quarter.
class YieldClock {
public:
    bool Due() {
        auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(1))
            return false;
        last_ = now;
        return true;
    }

private:
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

void DrawSlice(int32_t from_percent, int32_t to_percent) {
    Slice s = SliceFor(Form1.Picture1.OuterWidthTwips(), from_percent, to_percent);
    float height = Form1.Picture1.OuterHeightTwips();
    Form1.Picture1.FillBox(s.x1, 0, s.x2, height, s.r, s.g, s.b);
}

}  // namespace

void RunMemoryClean(const std::u16string& switch_text, bool show_window) {
    if (show_window)
        Form1.form.Show();

    MemoryFigures before = ReadMemoryStatus();
    int32_t total_kb = KilobytesOf(before.total);
    int32_t free_before_kb = KilobytesOf(before.avail);

    StepPlan plan = PlanSteps(total_kb, PercentOfSwitch(switch_text));
    YieldClock yield_clock;
    int32_t drawn = 0;  // Q
    for (int32_t i = 1; i <= plan.count; ++i) {
        BlockHandle* row = BlockHandles + static_cast<size_t>(i) * (kBlocksPerStep + 1);
        // P depends on the step only; the label is still set after every block, which costs a
        // comparison when its text has not changed.
        int32_t percent = ProgressPercent(i, plan.exact);
        std::wstring label = Wide(PercentLabel(percent));
        for (int32_t j = 1; j <= kBlocksPerStep; ++j) {
            // The blocks are only held, never written: a failed claim (0) is stored as well
            // and later handed to GlobalFree, which ignores it.
            row[j] = static_cast<BlockHandle>(
                reinterpret_cast<intptr_t>(GlobalAlloc(GMEM_FIXED, kBlockBytes)));
            if (j % 100 == 0 && yield_clock.Due())
                forms::DoEvents();
            Form1.Label1.SetText(label);
            if (percent != drawn) {
                DrawSlice(drawn, percent);
                drawn = percent;
            }
        }
    }

    Form1.Label1.SetText(L"終了処理中");
    int32_t steps = PlanSteps(total_kb, PercentOfSwitch(switch_text)).count;
    for (int32_t i = 1; i <= steps; ++i) {
        BlockHandle* row = BlockHandles + static_cast<size_t>(i) * (kBlocksPerStep + 1);
        for (int32_t j = 1; j <= kBlocksPerStep; ++j)
            GlobalFree(reinterpret_cast<HGLOBAL>(static_cast<intptr_t>(row[j])));
        forms::DoEvents();
    }

    int32_t free_after_kb = KilobytesOf(ReadMemoryStatus().avail);
    SendSstpScript(CleanReportScript(total_kb, free_before_kb, free_after_kb));
}

}  // namespace ramtidy
