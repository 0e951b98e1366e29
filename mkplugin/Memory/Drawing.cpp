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

}  // namespace ramtidy
