#include "Drawing.h"

#include "Numbers.h"

namespace ramtidy {

int ClampComponent(int32_t value) {
    return value > 255 ? 255 : value < 0 ? 0 : value;
}

int TwipsToPixels(double twips, int dpi) {
    return static_cast<int>(RoundHalfEven(twips * dpi / 1440.0));
}

double PixelsToTwips(int pixels, int dpi) {
    return pixels * 1440.0 / dpi;
}

int PointsToPixels(double points, int dpi) {
    return static_cast<int>(RoundHalfEven(points * dpi / 72.0));
}

int DpiAfterChange(unsigned x_dpi, unsigned y_dpi, bool with_rectangle, int window_dpi) {
    bool possible = x_dpi == y_dpi && x_dpi >= static_cast<unsigned>(kMinDpi) &&
                    x_dpi <= static_cast<unsigned>(kMaxDpi);
    return with_rectangle && possible ? static_cast<int>(x_dpi) : window_dpi;
}

bool IsSoundWindowRect(long left, long top, long right, long bottom) {
    auto coordinate = [](long v) { return v >= -32768 && v <= 32767; };
    return coordinate(left) && coordinate(top) && coordinate(right) && coordinate(bottom) &&
           left < right && top < bottom;
}

}  // namespace ramtidy
