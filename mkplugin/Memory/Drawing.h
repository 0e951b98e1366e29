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

// The DPIs the system gives a window: its scale factors run from 100 % to 500 %.
constexpr int kMinDpi = 96;
constexpr int kMaxDpi = 480;

// The DPI a form lays out at after WM_DPICHANGED, which names the new DPI of both axes (low and
// high word of wParam) and comes with the rectangle the system suggests. Any program can send
// the message too: a DPI the system cannot give (the two axes apart, or outside kMinDpi to
// kMaxDpi), or a message without a sound rectangle, leaves the window's own DPI standing.
int DpiAfterChange(unsigned x_dpi, unsigned y_dpi, bool with_rectangle, int window_dpi);

// A window rectangle the system could suggest: not empty, and within the coordinates that
// window messages carry (signed 16 bits).
bool IsSoundWindowRect(long left, long top, long right, long bottom);

}  // namespace ramtidy
