// The architecture of the build a benchmark measures, printed beside each of its ratios: the
// 32-bit and the 64-bit build are different programs, and a ratio holds for its own build.
#pragma once

#ifdef _WIN64
#define MK_BENCH_ARCH "64-bit"
#else
#define MK_BENCH_ARCH "32-bit"
#endif
