// Hold points of the cleaning run, a diagnostic aid: a run can be told to wait at known points
// (before the first claim, after a given step, before the first release), so that a test or a
// person can look at the status window there. See "Holding a cleaning run" in docs/plugin.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ramtidy {

// A step number that no run reaches.
constexpr int32_t kNoHoldStep = -1;

struct HoldPoints {
    bool before_claims = false;  // "0": the window is shown, nothing is claimed yet
    std::vector<int32_t> steps;  // "N": step N's blocks are claimed and drawn; ascending, unique
    bool before_release = false;  // "release": the label reads 終了処理中, nothing is released yet

    bool empty() const { return !before_claims && steps.empty() && !before_release; }
    // The first step hold after `step`, or kNoHoldStep.
    int32_t NextStepAfter(int32_t step) const;
};

// Reads a comma-separated list such as "0,500,release". Blanks around an item are ignored, and
// so are items that are neither a step number nor "release".
HoldPoints ParseHoldPoints(std::u16string_view text);

}  // namespace ramtidy
