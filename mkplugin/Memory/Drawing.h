// Twips and RGB colours as the forms draw them. Pure, so that it is tested natively.
#pragma once

#include <cstdint>

namespace ramtidy {

// One RGB component as the drawing takes it: above 255 counts as 255, below 0 as 0.
int ClampComponent(int32_t value);

// Twips to device pixels at `dpi` dots per inch (1440 twips an inch), rounded half to even.
int TwipsToPixels(double twips, int dpi);

}  // namespace ramtidy
