// fir_sweep: where FFT overlap-add overtakes direct convolution. Both of
// fir_bench's stages, timed by their own stopwatch, over a range of filter
// lengths M on one signal, with how far each result lies from the exact
// convolution.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "signal/signal.h"

// ---- The command line ---------------------------------------------------------

struct SweepOptions {
  std::size_t length = 100000;        // samples of the seeded noise signal
  std::uint64_t seed = 20261207;      // of the noise
  std::optional<std::string> input;   // or the values of this file
  std::vector<std::size_t> taps;      // the filter lengths, ascending, each once
  int repeat = 5;                     // runs of each stage per filter length
  std::optional<std::string> out;     // the table; standard output when unset
  std::optional<std::string> scale;   // the rounding scale per filter length
  bool help = false;
};

// The filter lengths when --taps is not given: the powers of two from 1 to
// 65536, and 1025, where the overlap-add block length doubles.
std::vector<std::size_t> default_sweep_taps();

// Parses the arguments after the program name into `options`, which start
// from the defaults. Returns false with a one-line `error` naming the option
// and the problem.
bool parse_sweep_arguments(const std::vector<std::string>& arguments, SweepOptions& options, std::string& error);

std::string sweep_help_text();

// ---- One filter length ----------------------------------------------------------

// A row of the table.
struct SweepRow {
  std::size_t taps;
  std::size_t block;  // the overlap-add block length n for N and M
  double direct_min_ms, direct_median_ms;
  double fft_min_ms, fft_median_ms;
  double rms, max_abs;  // deviations between the two results, first run
  double direct_error, fft_error;  // largest |y[k] - exact[k]| of each, first run
};

// The lowpass the sweep filters with: M taps from the generator, one fixed
// cutoff (1000 Hz at 8000 Hz), Hamming window.
Signal sweep_filter(std::size_t taps);

// Runs both stages `repeat` times on x and h, alternating direct and FFT,
// and compares their first results with the exact convolution. False, with
// `error` set, when a stage cannot run (too long, out of memory).
bool measure_filter_length(const Signal& x, const Signal& h, int repeat, std::uint64_t seed, SweepRow& row,
                           std::string& error);

// The table's header line and one row, tab-separated, numbers written
// locale-independently, each line ended by '\n'; the same for a line of
// the rounding scale's table (taps, scale).
std::string sweep_header();
std::string sweep_row_text(const SweepRow& row);
std::string scale_row_text(std::size_t taps, double scale);

// The smallest measured M from which on the FFT stage's minimum stays below
// the direct stage's; none when the last one measured is not.
std::optional<std::size_t> fft_crossover(const std::vector<SweepRow>& rows);

// 2^-53 * sum |h| * max |x|: one rounding at the scale of the output.
double rounding_scale(const Signal& x, const Signal& h);

// ---- The exact convolution ----------------------------------------------------------

// The output indices whose error the sweep measures: the first and the last
// M of the L = N + M - 1 outputs, where the sums are short, and about 1000
// more drawn from `seed`. Ascending, each once.
std::vector<std::size_t> error_indices(std::size_t samples, std::size_t taps, std::uint64_t seed);

// sum_j h[j] x[k-j] for each k of `indices`, exact to about 106 bits, as a
// pair (high + low) each: products and sums error-free in pairs of doubles
// (Dekker's product, Knuth's sum, Ogita, Rump and Oishi's Dot2). Values must
// stay below about 1e300, where splitting a double for the product
// overflows.
struct ExactOutputs {
  Signal high, low;
};
ExactOutputs exact_outputs(const Signal& x, const Signal& h, const std::vector<std::size_t>& indices);

// The largest |y[k] - exact[k]| over `indices`; a NaN when any is a NaN.
double largest_error(const Signal& y, const std::vector<std::size_t>& indices, const ExactOutputs& exact);
