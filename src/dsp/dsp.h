// Filtering a Signal two ways and measuring how far apart the results land.
//
// Notation: x is the input (N samples), h the taps (M), y a result. All
// arithmetic is IEEE double with every product rounded before it is added.
// Each stage times its own computation loop with the process-wide stopwatch;
// stopwatch.average_ms holds that time when the stage returns.
#pragma once

#include <string_view>

#include "signal/signal.h"

enum class DspStatus {
  ok,
  too_long,  // a length or size does not fit its counter; y is left empty
};

// y := x * h, the full linear convolution.  [size: y gets N + M - 1 values;
// none when N + M - 1 < 1]  Every y[k] receives its terms h[j]*x[i] in
// increasing input index i, starting from 0.0, so the result is the same to
// the bit as the plain loop `for i, for j: y[i+j] = h[j]*x[i] + y[i+j]`.
// Allocation happens before the stopwatch starts; only the accumulation is
// timed. Returns too_long when N + M - 1 exceeds signal_max_length.
DspStatus convolve_direct(const Signal& x, const Signal& h, Signal& y);

// The vector instruction set convolve_direct uses, chosen at run time as
// the best this processor has: "avx512", "avx2" or "baseline" (SSE2 on
// x86-64, the compiler's generic vectors elsewhere).
const char* convolve_direct_isa();

// Makes convolve_direct use the named instruction set; false, changing
// nothing, when it is unknown or this processor lacks it. For tests and
// benchmarks: every choice gives the same bits.
bool convolve_direct_use_isa(std::string_view isa);
