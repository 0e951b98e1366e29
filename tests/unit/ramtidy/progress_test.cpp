#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Drawing.h"
#include "Progress.h"
#include "RuntimeError.h"

namespace ramtidy {
namespace {

// The labels of a whole run, one per step (the label is the same for every block of a step).
std::vector<int32_t> Percents(int32_t total_kb, const std::u16string& sw) {
    StepPlan plan = PlanSteps(total_kb, PercentOfSwitch(sw));
    std::vector<int32_t> out;
    for (int32_t i = 1; i <= plan.count; ++i)
        out.push_back(ProgressPercent(i, plan.exact));
    return out;
}

TEST(PlanSteps, FromInstalledMemoryAndSwitch) {
    StepPlan p = PlanSteps(131072, PercentOfSwitch(u"/50"));
    EXPECT_EQ(p.exact, 64.0);
    EXPECT_EQ(p.count, 64);
    p = PlanSteps(129024, PercentOfSwitch(u"/10"));
    EXPECT_DOUBLE_EQ(p.exact, 12.6);
    EXPECT_EQ(p.count, 13);
    EXPECT_EQ(PlanSteps(131072, PercentOfSwitch(u"x50")).count, 64);
    EXPECT_EQ(PlanSteps(131072, PercentOfSwitch(u"/12.5")).exact, 16.0);
    for (const char16_t* sw : {u"/", u"/0", u"/abc", u"/-5"})
        EXPECT_LE(PlanSteps(131072, PercentOfSwitch(sw)).count, 0);
}

TEST(PlanSteps, RunsBeyondTheTableAreClampedTo1024Steps) {
    // E = 1024.5 rounds to the even 1024 and keeps its exact E, as does E = 1024.4.
    StepPlan p = PlanSteps(1049088, 100);
    EXPECT_EQ(p.count, 1024);
    EXPECT_EQ(p.exact, 1024.5);
    p = PlanSteps(1048985, 100);  // 1024.399...
    EXPECT_EQ(p.count, 1024);
    EXPECT_GT(p.exact, 1024.39);
    EXPECT_LT(p.exact, 1024.4);
    // Anything above needs step 1025: the run makes 1024 steps, counted against 1024.
    for (double percent : {100.0001, 101.0, 1000.0, 1e6}) {
        p = PlanSteps(1049089, percent);
        EXPECT_EQ(p.count, 1024) << percent;
        EXPECT_EQ(p.exact, 1024.0) << percent;
    }
    // 24 GB installed: /4 fits, /5 and /100 are clamped.
    EXPECT_EQ(PlanSteps(25165824, 4).count, 983);
    EXPECT_EQ(PlanSteps(25165824, 5).count, 1024);
    p = PlanSteps(25165824, 100);
    EXPECT_EQ(p.count, 1024);
    EXPECT_EQ(ProgressPercent(1, p.exact), 0);  // 0.098
    EXPECT_EQ(ProgressPercent(512, p.exact), 50);
    EXPECT_EQ(ProgressPercent(p.count, p.exact), 100);
}

TEST(PlanSteps, OverflowStopsBeforeAnyClaim) {
    try {
        PlanSteps(4194304, 1e308);
        FAIL() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code(), ErrorCode::Overflow);
    }
    try {
        PlanSteps(4194304, 1e12);
        FAIL() << "no error";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.code(), ErrorCode::Overflow);  // S itself does not fit 32 bits
    }
}

TEST(ProgressPercent, Sequences) {
    std::vector<int32_t> p = Percents(131072, u"/50");
    ASSERT_EQ(p.size(), 64u);
    EXPECT_EQ(p.front(), 2);  // 1.5625
    EXPECT_EQ(p.back(), 100);

    p = Percents(129024, u"/10");
    ASSERT_EQ(p.size(), 13u);
    EXPECT_EQ(p.front(), 8);   // 7.94
    EXPECT_EQ(p.back(), 103);  // S rounds up and P uses the exact E

    // E = 12.45: S = 12 and the bar stops short at 96%.
    StepPlan plan{12.45, 12};
    EXPECT_EQ(ProgressPercent(plan.count, plan.exact), 96);
}

TEST(Slice, GeometryOfTheBar) {
    Slice s = SliceFor(4695, 0, 2);
    EXPECT_EQ(s.x1, 0);
    EXPECT_EQ(s.x2, 94);  // w = 46.95 rounded = 47
    s = SliceFor(4695, 99, 100);
    EXPECT_EQ(s.x1, 4653);
    EXPECT_EQ(s.x2, 4700);                   // beyond the 4695-twip box: clipped by the drawing
    EXPECT_EQ(SliceFor(4650, 0, 1).x2, 46);  // 46.5 goes to the even 46
}

TEST(Slice, ColourFromGreenToBlue) {
    struct Row {
        int p, g, b;
    } rows[] = {{1, 253, 3},   {2, 251, 5},  {25, 192, 64}, {50, 128, 128},
                {75, 64, 192}, {99, 3, 253}, {100, 0, 255}, {0, 255, 0}};
    for (const Row& row : rows) {
        Slice s = SliceFor(4695, 0, row.p);
        EXPECT_EQ(s.r, 0) << row.p;
        EXPECT_EQ(s.g, row.g) << row.p;
        EXPECT_EQ(s.b, row.b) << row.p;
    }
    // Past 100 the green part falls below 0: the colour stays at the blue end.
    Slice s = SliceFor(4695, 100, 103);
    EXPECT_EQ(s.g, 0);
    EXPECT_EQ(s.b, 255);
    EXPECT_EQ(ClampComponent(256), 255);
    EXPECT_EQ(ClampComponent(-8), 0);
}

TEST(Labels, PercentText) {
    EXPECT_EQ(PercentLabel(37), u"37%");
    EXPECT_EQ(PercentLabel(103), u"103%");
}

TEST(TwipsToPixels, ScreenResolutions) {
    EXPECT_EQ(TwipsToPixels(4695, 96), 313);
    EXPECT_EQ(TwipsToPixels(375, 96), 25);
    EXPECT_EQ(TwipsToPixels(4695, 120), 391);  // 391.25
    EXPECT_EQ(TwipsToPixels(30, 144), 3);
    // At 150 % the halves go to the even neighbour: 469.5, 37.5, 109.5.
    EXPECT_EQ(TwipsToPixels(4695, 144), 470);
    EXPECT_EQ(TwipsToPixels(375, 144), 38);
    EXPECT_EQ(TwipsToPixels(1095, 144), 110);
    EXPECT_EQ(TwipsToPixels(4680, 144), 468);
    // The picture box read back: 470 pixels at 144 DPI are 4700 twips, and a slice stays 47 wide.
    EXPECT_DOUBLE_EQ(PixelsToTwips(470, 144), 4700);
    EXPECT_DOUBLE_EQ(PixelsToTwips(313, 96), 4695);
}

TEST(PointsToPixels, LabelFontAtEachScale) {
    EXPECT_EQ(PointsToPixels(14.25, 96), 19);
    EXPECT_EQ(PointsToPixels(14.25, 120), 24);  // 23.75
    EXPECT_EQ(PointsToPixels(14.25, 144), 28);  // 28.5
    EXPECT_EQ(PointsToPixels(14.25, 192), 38);
}

// WM_DPICHANGED can come from any program: a DPI the system cannot give, or no sound rectangle,
// leaves the window's own DPI.
TEST(DpiAfterChange, OnlyWhatTheSystemCouldSend) {
    EXPECT_EQ(DpiAfterChange(144, 144, true, 96), 144);
    EXPECT_EQ(DpiAfterChange(96, 96, true, 144), 96);
    EXPECT_EQ(DpiAfterChange(480, 480, true, 96), 480);
    EXPECT_EQ(DpiAfterChange(144, 144, false, 96), 96);  // no rectangle
    EXPECT_EQ(DpiAfterChange(0, 0, true, 120), 120);
    EXPECT_EQ(DpiAfterChange(144, 96, true, 120), 120);  // the axes apart
    EXPECT_EQ(DpiAfterChange(95, 95, true, 120), 120);
    EXPECT_EQ(DpiAfterChange(481, 481, true, 120), 120);
    EXPECT_EQ(DpiAfterChange(65535, 65535, true, 120), 120);
}

TEST(DpiAfterChange, SoundRectangles) {
    EXPECT_TRUE(IsSoundWindowRect(10, 20, 330, 80));
    EXPECT_TRUE(IsSoundWindowRect(-1920, -40, -1500, 10));  // a monitor left of the primary
    EXPECT_FALSE(IsSoundWindowRect(10, 20, 10, 80));        // empty
    EXPECT_FALSE(IsSoundWindowRect(330, 20, 10, 80));       // upside down
    EXPECT_FALSE(IsSoundWindowRect(0, 0, 40000, 30));
    EXPECT_FALSE(IsSoundWindowRect(-40000, 0, 30, 30));
}

}  // namespace
}  // namespace ramtidy
