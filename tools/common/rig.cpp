#include "rig.h"

namespace mk::tools {

unsigned RigWaitFactor() {
    static const unsigned factor = [] {
        char text[16] = {};
        DWORD n = GetEnvironmentVariableA("MK_RIG_WAIT_FACTOR", text, sizeof text);
        if (n == 0 || n >= sizeof text)
            return 1u;
        unsigned value = 0;
        for (DWORD i = 0; i < n; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return 1u;
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (value > 100)
                return 1u;
        }
        return value == 0 ? 1u : value;
    }();
    return factor;
}

DWORD RigLimit(DWORD base_ms) {
    return base_ms * RigWaitFactor();
}

}  // namespace mk::tools
