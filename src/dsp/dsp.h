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

// y := x * h, the full linear convolution.  [size: y gets N + M - 1 values;
// none when N + M - 1 < 1]  Every y[k] receives its terms h[j]*x[i] in
// increasing input index i, starting from 0.0, so the result is the same to
// the bit as the plain loop `for i, for j: y[i+j] = h[j]*x[i] + y[i+j]`.
// Allocation happens before the stopwatch starts; only the accumulation is
// timed. The loops run on the fastest vector instructions this processor
// has, all giving the same bits. Returns too_long when N + M - 1 exceeds
// what a Signal can hold here, out_of_memory when y cannot be held.
Status convolve_direct(const Signal& x, const Signal& h, Signal& y);

// y := x * h by FFT overlap-add with FFTW: blocks of n inputs, n the smallest
// power of two >= max(M, min(N, 1024)), real transforms of length 2n planned
// with FFTW_ESTIMATE, the filter spectrum computed once. [size: y gets
// n * (ceil(N / n) + 2) values]  y[0 .. N+M-2] is the linear convolution
// within the transforms' rounding; after it, up to the end of the last
// block's window, y holds only rounding residue, and every sample after that
// window is exactly 0.0. Planning, the filter transform and zero-filling y
// happen before the stopwatch starts; only the block loop is timed.
// N = M = 0 calls no FFTW function, leaves y empty and still starts and
// stops the stopwatch once. Returns too_long when 2n exceeds FFTW's int or
// y what a Signal can hold here, out_of_memory when the buffers, y or the
// memory FFTW takes while planning cannot be had, fftw_failed when FFTW
// makes no plan.
Status convolve_overlap_add(const Signal& x, const Signal& h, Signal& y);

// How far the FFT result strays from the direct one.
struct DeviationStats {
  double rms;      // sqrt(sum of d[k]^2 / L); NaN for L = 0 (0 / 0)
  double max_abs;  // largest |d[k]| after the last NaN difference, see below
};

// d := y - f over L = y.size() values (f must hold at least L; values of f
// beyond them are ignored), and their statistics into `deviations`. The
// squares are summed in increasing k from 0.0, one addition each, and the
// running maximum A starts at 0.0 and takes |d[k]| unless |d[k]| < A: so a
// NaN difference makes A a NaN, and the next difference of any size
// replaces it. Not timed; prints nothing. Returns out_of_memory, with d
// empty, when d cannot be held.
Status compare_signals(const Signal& y, const Signal& f, Signal& d, DeviationStats& deviations);
