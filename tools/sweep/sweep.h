// fir_sweep: which method for my filter. Both of fir_bench's stages over a
// range of filter lengths M on one signal (or on the user's own signal and
// filter), each timed two ways: its loop, as fir_bench prints it, and the
// whole call a caller waits for; with how far each result lies from the
// exact convolution, and where FFT overlap-add overtakes direct convolution.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "signal/signal.h"
#include "dsp/overlap_add.h"
#include "signal/status.h"

// ---- What went wrong ------------------------------------------------------------

// The one wording of fir_sweep's problems: what it could not do with
// `what`, a file ("'t.tsv'"), standard output, its signals or a stage ("the
// FFT stage"), by `status`.
enum class Use { read, write, hold, run };
std::string problem_text(const std::string& what, Use use, Status status);

// ---- The command line ---------------------------------------------------------

struct SweepOptions {
  std::size_t length = 100000;        // samples of the seeded noise signal
  bool length_given = false;
  std::uint64_t seed = 20261207;      // of the noise and of the sampled outputs
  std::optional<std::string> input;   // the signal from this file instead
  std::optional<std::string> fir;     // this filter only, instead of the generated lowpasses
  std::vector<std::size_t> taps;      // the filter lengths, ascending, each once
  bool taps_given = false;
  int repeat = 5;                     // runs of each stage per filter length
  std::optional<std::string> out;     // the table; standard output when unset
  std::optional<std::string> scale;   // the rounding scale per filter length
  bool measure = false;               // the best FFT planned with FFTW_MEASURE too
  bool help = false;
  bool version = false;
};

// The filter lengths when --taps is not given: the powers of two from 1 to
// 65536, and 1025, where the overlap-add block length doubles.
std::vector<std::size_t> default_sweep_taps();

// Parses the arguments after the program name into `options`, which start
// from the defaults. Returns false with a one-line `error` naming the option
// and the problem (also for options that exclude each other).
bool parse_sweep_arguments(const std::vector<std::string>& arguments, SweepOptions& options, std::string& error);

std::string sweep_help_text();

// ---- Timing the two methods ------------------------------------------------------

// The times of one method over the repeats, in ms: its loop as the stage's
// stopwatch measures it, and its whole call (allocation, FFTW's planner and
// plans, the filter transform, the loop and the release of its buffers, in
// a process where FFTW has planned nothing yet, as in fir_bench).
struct MethodTimes {
  std::vector<double> loop, call;
};

struct BothTimes {
  MethodTimes direct, fft;
};

// Runs both stages `repeat` times on x and h, alternating direct and FFT.
// The first results go to `direct` and `fft` when given. False, with `error`
// set to the run's own message, when a stage cannot run.
bool time_methods(const Signal& x, const Signal& h, int repeat, BothTimes& times, std::string& error,
                  Signal* direct = nullptr, Signal* fft = nullptr);

// ---- The FFT at its best ---------------------------------------------------------

// y := x * h by overlap-add with real transforms of `length` K >= M, planned
// by `planner` (estimate, as fir_bench, or measure), each block taking
// K - M + 1 new samples; the same kernels as fir_bench's stage.
// [size: y gets N + M - 1 values]  The block loop is timed by the
// stopwatch, as the stage's; `plan_ms` gets the planning's time. Returns
// too_long for K < M or beyond FFTW's int, out_of_memory, fftw_failed.
Status convolve_fft_length(const Signal& x, const Signal& h, std::size_t length, Planner planner, Signal& y,
                           double& plan_ms);

// The `count` transform lengths likeliest to be fastest for N `samples` and
// M `taps`: powers of two and 3 and 5 times them, from M up to one block for
// the whole signal, ranked by their transform work.
std::vector<std::size_t> fft_length_candidates(std::size_t samples, std::size_t taps, std::size_t count);

// The fastest transform length by the loop's minimum time, with its block,
// loop times and planning time; and the fastest by the whole call (planning
// weighs there: it may be shorter), with its call times.
struct BestFft {
  std::size_t length, block;
  std::vector<double> loop;
  double plan_ms;
  std::size_t call_length;
  std::vector<double> call;
};

// Times the candidates and fir_bench's own length 2n, `repeat` calls each,
// every call planning from nothing (when measuring, only the first); the
// best's result goes to `first` when given. False, with `error` set, when a
// call cannot run.
bool time_best_fft(const Signal& x, const Signal& h, int repeat, Planner planner, BestFft& best, std::string& error,
                   Signal* first = nullptr);

// ---- One filter length ----------------------------------------------------------

struct SweepRow {
  std::size_t taps;
  std::size_t block;  // the overlap-add block length n for N and M
  double direct_min_ms, direct_median_ms, fft_min_ms, fft_median_ms;  // loops
  double direct_call_min_ms, direct_call_median_ms, fft_call_min_ms, fft_call_median_ms;
  double rms, max_abs;             // deviations between the two results, first run
  double direct_error, fft_error;  // largest |y[k] - exact[k]| of each, first run
  // The FFT at its best (FFTW_ESTIMATE): length K, block K - M + 1, loop
  // times and error as above; the fastest whole call, of length
  // fft_best_call_length.
  std::size_t fft_best_length, fft_best_block;
  double fft_best_min_ms, fft_best_median_ms, fft_best_error;
  std::size_t fft_best_call_length;
  double fft_best_call_min_ms, fft_best_call_median_ms;
  // With FFTW_MEASURE (0 when not asked for): its best length, loop and
  // planning time.
  std::size_t fft_measure_length;
  double fft_measure_min_ms, fft_measure_plan_ms;
  std::size_t error_outputs;  // how many outputs the errors cover
};

// Both methods on x and h, `repeat` times each, and their first results
// against the exact convolution. False, with `error` set, when a stage
// cannot run.
// With `measure`, the FFT at its best under FFTW_MEASURE too.
bool measure_filter_length(const Signal& x, const Signal& h, int repeat, std::uint64_t seed, bool measure,
                           SweepRow& row, std::string& error);

// ---- Where FFT overtakes direct ----------------------------------------------------

enum class TimeKind { loop, call };
// Which FFT direct convolution is set against: fir_bench's rule or the best.
enum class FftMethod { rule, best };

// Which method is faster by the minimum times, and whether that is a tie:
// the minimums lie within the spread (median - minimum) of either method.
struct Comparison {
  bool fft_faster;
  bool tie;
};
Comparison compare_times(const std::vector<double>& direct, const std::vector<double>& fft);

// The first M from which FFT is faster and stays so, and the band of M
// around it where the two methods lie within their spread (a tie): from
// tie_from to tie_to. No band when tie_from > tie_to.
struct Crossover {
  std::size_t taps;
  std::size_t tie_from, tie_to;
};

// The crossover to the tap: from the listed rows, the first M from which
// FFT stays faster and the M listed before it; then bisection between the
// two, `compare(M)` timing both methods at M, and likewise for the edges of
// the band of ties. The first listed M when FFT is faster at every one;
// none when it is not faster at the last.
std::optional<Crossover> find_crossover(const std::vector<SweepRow>& rows, TimeKind kind, FftMethod method,
                                        const std::function<Comparison(std::size_t)>& compare);

// Direct convolution against either FFT at M taps for the bisection, on
// the generator's standard lowpass, each M timed once and kept. A probe
// that cannot run keeps its problem, and every later one gives up.
struct Probes {
  const Signal& x;
  int repeat;
  struct Measured {
    BothTimes times;
    BestFft best;
  };
  std::map<std::size_t, Measured> measured;
  std::string problem;

  Comparison compare(std::size_t taps, TimeKind kind, FftMethod method);
};

// ---- The table ------------------------------------------------------------------
//
// Tab-separated: '#' lines first, then a header and one row per M, then
// '#' lines of the crossovers. A '#' line is prose, or "#", a key and its
// fields, each after a tab, for gnuplot (tools/sweep.gp) and tests to
// read as they stand; TSV readers skip them all.

// A column: its header, `name` followed by _`unit` when it has one, and the
// member of the row it shows, a count or a value.
struct SweepColumn {
  const char* name;
  const char* unit;  // "ms", or none
  std::size_t SweepRow::*count;
  double SweepRow::*value;
  bool measured;  // written with --measure only
};
// Every column, in the table's order.
std::span<const SweepColumn> sweep_columns();
std::string column_header(const SweepColumn& column);

// What produced the table: "#" lines keyed samples, signal, filters, seed,
// repeats, kernels, cpu, fftw, version, and prose on the columns.
struct Provenance {
  std::size_t samples;
  std::uint64_t seed;
  int repeat;
  std::string input;  // file name, or the generated noise
  std::string fir;    // file name, or the generated lowpasses
  std::string isa, cpu, fftw, version;
};
std::string provenance_lines(const Provenance& p);

// The header line and one row, numbers written locale-independently (a NaN
// as "nan"), each line ended by '\n'; the same for a line of the rounding
// scale's table (taps, scale). `measured`: the FFTW_MEASURE columns too.
std::string sweep_header(bool measured);
std::string sweep_row_text(const SweepRow& row, bool measured);
std::string scale_row_text(std::size_t taps, double scale);

// The crossovers against fir_bench's rule and against the best FFT, by the
// loop and by the whole call: "#", "crossover", the time (loop, call), the
// FFT (rule, best), then the first M from which FFT stays faster and the
// band of ties (0 0 1 for none). And the same in words, with what the rule
// costs at each M (its loop time over the best's), for standard error.
struct Crossovers {
  std::optional<Crossover> loop, call, best_loop, best_call;
};
std::string crossover_fields(const Crossovers& c);
std::string crossover_prose(const Crossovers& c, const std::vector<SweepRow>& rows, std::size_t samples);

// For one filter: which of direct, the FFT by fir_bench's rule and the FFT
// at its best is fastest by `kind`, and by how much against the others.
std::string verdict_text(const SweepRow& row, TimeKind kind);

// 2^-53 * sum |h| * max |x|: one rounding at the scale of the output.
double rounding_scale(const Signal& x, const Signal& h);

// ---- The exact convolution ----------------------------------------------------------

// Products of samples and taps up to which every output's error is
// computed; above it, a sample of the outputs.
inline constexpr double exact_all_limit = 1e9;

// The output indices whose error the sweep measures: all L = N + M - 1
// when N * M <= exact_all_limit; otherwise the first and the last M, where
// the sums are short, and about 1000 more drawn from `seed`. Ascending, each
// once.
std::vector<std::size_t> error_indices(std::size_t samples, std::size_t taps, std::uint64_t seed);

// sum_j h[j] x[k-j] for each k of `indices`, exact to about 106 bits, as a
// pair (high + low) each (reference.cpp says how). Values must stay below
// about 1e300, where splitting a double for the product overflows.
struct ExactOutputs {
  Signal high, low;
};
ExactOutputs exact_outputs(const Signal& x, const Signal& h, const std::vector<std::size_t>& indices);

// The largest |y[k] - exact[k]| over `indices`; a NaN when any is a NaN.
double largest_error(const Signal& y, const std::vector<std::size_t>& indices, const ExactOutputs& exact);
