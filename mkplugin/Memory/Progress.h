// Arithmetic of the cleaning run and its progress bar. Widths and positions are in twips.
#pragma once

#include <cstdint>
#include <string>

namespace ramtidy {

// BlockHandles holds this many steps of 1024 blocks; row and column 0 are never used.
constexpr int32_t kMaxSteps = 1024;
constexpr int32_t kBlocksPerStep = 1024;
constexpr int32_t kBlockBytes = 1024;

struct StepPlan {
    double exact = 0;   // E: exact number of one-megabyte steps
    int32_t count = 0;  // S: E rounded; 0 or less means no step
};

// E = T / 1024 * n / 100 and S = E rounded. Throws RuntimeError(Overflow) when E is not a
// finite double or S does not fit 32 bits, before anything is claimed.
// A run that needs more than kMaxSteps steps runs kMaxSteps (1024 MB, what the table holds and
// about what a 32-bit process can claim), and its progress counts against those steps: E is
// then taken as kMaxSteps, so that the label and the bar reach 100 %. With 24 GB installed
// every switch above about 4 % needs more; stopping there would clean nothing at all.
StepPlan PlanSteps(int32_t total_kb, double percent);

// The percentage of the switch: its first character dropped, the rest read as a number.
double PercentOfSwitch(const std::u16string& switch_text);

// P for step i (1-based) of a run of exact length E: i / E * 100, rounded.
int32_t ProgressPercent(int32_t step, double exact);

// "<P>%"
std::u16string PercentLabel(int32_t percent);

struct Slice {
    int32_t x1 = 0, x2 = 0;   // twips
    int r = 0, g = 0, b = 0;  // 0..255
};

// The bar slice from Q to P for a picture box `width_twips` wide. Colour runs from green
// (P = 0) to blue (P = 100); above 100 the green part is below 0 and counts as 0.
Slice SliceFor(float width_twips, int32_t from_percent, int32_t to_percent);

}  // namespace ramtidy
