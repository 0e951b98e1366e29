#include "Progress.h"

#include <cmath>
#include <string>

#include "Drawing.h"
#include "Numbers.h"
#include "RuntimeError.h"

namespace ramtidy {

StepPlan PlanSteps(int32_t total_kb, double percent) {
    StepPlan plan;
    plan.exact = static_cast<double>(total_kb) / 1024 * percent / 100;
    if (!std::isfinite(plan.exact))
        throw RuntimeError(ErrorCode::Overflow, "The number of steps of the run is too large");
    plan.count = RoundToInt32(plan.exact, "The number of steps of the run");
    if (plan.count > kMaxSteps) {
        plan.count = kMaxSteps;
        plan.exact = kMaxSteps;
    }
    return plan;
}

double PercentOfSwitch(const std::u16string& switch_text) {
    if (switch_text.empty())
        return 0.0;
    return ReadNumber(std::u16string_view(switch_text).substr(1));
}

int32_t ProgressPercent(int32_t step, double exact) {
    return RoundToInt32(step / exact * 100, "The progress percentage");
}

std::u16string PercentLabel(int32_t percent) {
    return Decimal(percent) + u"%";
}

Slice SliceFor(float width_twips, int32_t from_percent, int32_t to_percent) {
    int32_t w = RoundToInt32(width_twips / 100.0f, "The width of one percent of the bar");
    auto product = [](int32_t a, int32_t b) {
        return RoundToInt32(static_cast<double>(static_cast<int64_t>(a) * b),
                            "A position on the bar");
    };
    Slice s;
    s.x1 = product(w, from_percent);
    s.x2 = product(w, to_percent);
    s.r = 0;
    s.g = ClampComponent(RoundToInt16(256 - 2.56 * to_percent, "The green part of the colour"));
    s.b = ClampComponent(RoundToInt16(2.56 * to_percent, "The blue part of the colour"));
    return s;
}

}  // namespace ramtidy
