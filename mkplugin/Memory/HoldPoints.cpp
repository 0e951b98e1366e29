#include "HoldPoints.h"

#include <algorithm>
#include <limits>

namespace ramtidy {

int32_t HoldPoints::NextStepAfter(int32_t step) const {
    auto it = std::upper_bound(steps.begin(), steps.end(), step);
    return it == steps.end() ? kNoHoldStep : *it;
}

HoldPoints ParseHoldPoints(std::u16string_view text) {
    HoldPoints points;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u',', start);
        if (end == std::u16string_view::npos)
            end = text.size();
        std::u16string_view item = text.substr(start, end - start);
        while (!item.empty() && (item.front() == u' ' || item.front() == u'\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == u' ' || item.back() == u'\t'))
            item.remove_suffix(1);
        start = end + 1;

        if (item == u"release") {
            points.before_release = true;
            continue;
        }
        if (item.empty() || item.size() > 10)
            continue;
        int64_t value = 0;
        bool digits = true;
        for (char16_t c : item) {
            if (c < u'0' || c > u'9') {
                digits = false;
                break;
            }
            value = value * 10 + (c - u'0');
        }
        if (!digits || value > std::numeric_limits<int32_t>::max())
            continue;
        if (value == 0)
            points.before_claims = true;
        else
            points.steps.push_back(static_cast<int32_t>(value));
    }
    std::sort(points.steps.begin(), points.steps.end());
    points.steps.erase(std::unique(points.steps.begin(), points.steps.end()), points.steps.end());
    return points;
}

}  // namespace ramtidy
