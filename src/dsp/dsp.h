// Filtering a Signal two ways and measuring how far apart the results land.
//
// Notation: x is the input (N samples), h the taps (M), y a result, n the
// overlap-add block length. All arithmetic is IEEE double with every
// product rounded before it is added. Each stage times its own computation
// loop with the process-wide stopwatch; stopwatch.average_ms holds that time
// when the stage returns. On a failure the stage's result is left empty.
#pragma once

#include "signal/signal.h"
#include "signal/status.h"

// y := x * h, the bits of the plain loop `for i, for j: y[i+j] = h[j]*x[i] +
// y[i+j]` (direct_kernel.h says how every layout keeps them), only the
// accumulation timed.  [size: y gets N + M - 1 values,
// none when N = M = 0]  Returns too_long when y exceeds what a Signal holds
// here, out_of_memory when it cannot be held.
Status convolve_direct(const Signal& x, const Signal& h, Signal& y);

// y := x * h by FFT overlap-add (overlap_add.h has the layout), only the
// block loop timed.  [size: y gets n * (ceil(N / n) + 2) values, the
// convolution within rounding, then residue and zeros]  Returns too_long,
// out_of_memory or fftw_failed, with y empty.
Status convolve_overlap_add(const Signal& x, const Signal& h, Signal& y);

// How far the FFT result strays from the direct one.
struct DeviationStats {
  double rms;      // sqrt(sum of d[k]^2 / L) over L = y.size(); NaN for L = 0 (0 / 0); where
                   // only the squares overflow, max_abs * sqrt(sum of (d[k] / max_abs)^2 / L)
  double max_abs;  // largest |d[k]| after the last NaN difference
};

// d := y - f over the y.size() values of y (f holds at least as many), and
// their statistics into `deviations`. Not timed; prints nothing. Returns
// out_of_memory, with d empty, when d cannot be held.
Status compare_signals(const Signal& y, const Signal& f, Signal& d, DeviationStats& deviations);
