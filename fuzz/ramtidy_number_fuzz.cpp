// Number reading, rounding and the run arithmetic that depends on them.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Numbers.h"
#include "Progress.h"
#include "RuntimeError.h"

using namespace ramtidy;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    int32_t total_kb;
    std::memcpy(&total_kb, data, 4);
    std::u16string text(data + 4, data + size);  // bytes as characters: ASCII-heavy input

    double n = 0;
    try {
        n = ReadNumber(text);
    } catch (const RuntimeError& e) {
        if (e.code() != ErrorCode::Overflow)
            abort();
        return 0;
    }
    if (!std::isfinite(n))
        abort();
    // Reading stops at the first character that does not fit: appending one changes nothing.
    if (ReadNumber(text + u"x") != n)
        abort();

    double r = RoundHalfEven(n);
    if (std::fabs(r - n) > 0.5 || (std::fabs(r - n) == 0.5 && std::fmod(r, 2.0) != 0))
        abort();

    try {
        StepPlan plan = PlanSteps(total_kb, n);
        if (plan.count > kMaxSteps)
            abort();
        int32_t previous = 0;
        for (int32_t i = 1; i <= plan.count; ++i) {
            int32_t p = ProgressPercent(i, plan.exact);
            if (p < previous)
                abort();
            Slice s = SliceFor(4695, previous, p);
            if (s.g < 0 || s.g > 255 || s.b < 0 || s.b > 255 || s.x1 > s.x2)
                abort();
            previous = p;
        }
    } catch (const RuntimeError& e) {
        if (e.code() != ErrorCode::Overflow && e.code() != ErrorCode::SubscriptOutOfRange)
            abort();
    }
    return 0;
}
