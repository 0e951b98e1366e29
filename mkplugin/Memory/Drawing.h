// Twips, points and RGB colours as the forms draw them. Pure, so that it is tested natively.
#pragma once

#include <cstdint>

namespace ramtidy {

// One RGB component as the drawing takes it: above 255 counts as 255, below 0 as 0.
int ClampComponent(int32_t value);

// Twips to device pixels at `dpi` dots per inch (1440 twips an inch), rounded half to even.
int TwipsToPixels(double twips, int dpi);
// Device pixels to twips at `dpi`: a window's size in pixels as the layout reads it back.
double PixelsToTwips(int pixels, int dpi);

// A font's character height in pixels for its size in points (72 an inch) at `dpi`, rounded
// half to even, as a negative LOGFONT height asks for it.
int PointsToPixels(double points, int dpi);

}  // namespace ramtidy
