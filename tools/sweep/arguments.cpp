#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <string_view>

#include "options/options.h"
#include "sweep/sweep.h"

namespace {

using tool_options::parse_count;
using ValueOption = tool_options::ValueOption<SweepOptions>;

// A count of at least 1 and at most signal_max_length.
bool parse_positive(std::string_view text, std::size_t& value) {
  std::uint64_t parsed = 0;
  if (!parse_count(text, parsed) || parsed == 0 || parsed > signal_max_length) return false;
  value = static_cast<std::size_t>(parsed);
  return true;
}

// "M" or "A..B" (every power of two from A to B), separated by commas.
bool parse_taps(std::string_view text, std::vector<std::size_t>& taps) {
  taps.clear();
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (comma != std::string_view::npos && text.empty()) return false;  // a trailing comma
    const std::size_t dots = item.find("..");
    if (dots == std::string_view::npos) {
      std::size_t count = 0;
      if (!parse_positive(item, count)) return false;
      taps.push_back(count);
      continue;
    }
    std::size_t low = 0, high = 0;
    if (!parse_positive(item.substr(0, dots), low) || !parse_positive(item.substr(dots + 2), high) || low > high) {
      return false;
    }
    const std::size_t before = taps.size();
    for (std::size_t power = 1; power <= high && power != 0; power *= 2) {
      if (power >= low) taps.push_back(power);
    }
    if (taps.size() == before) return false;  // no power of two in the range
  }
  std::sort(taps.begin(), taps.end());
  taps.erase(std::unique(taps.begin(), taps.end()), taps.end());
  return !taps.empty();
}

const std::map<std::string_view, ValueOption>& value_options() {
  static const std::map<std::string_view, ValueOption> options = {
      {"--length", {"a sample count of at least 1",
                    [](std::string_view v, SweepOptions& o) {
                      o.length_given = true;
                      return parse_positive(v, o.length);
                    }}},
      {"--seed", {"a whole number", [](std::string_view v, SweepOptions& o) { return parse_count(v, o.seed); }}},
      {"--input", {"a file name",
                   [](std::string_view v, SweepOptions& o) {
                     o.input = std::string(v);
                     return !v.empty();
                   }}},
      {"--fir", {"a file name",
                 [](std::string_view v, SweepOptions& o) {
                   o.fir = std::string(v);
                   return !v.empty();
                 }}},
      {"--taps", {"tap counts or ranges A..B of powers of two, separated by commas",
                  [](std::string_view v, SweepOptions& o) {
                    o.taps_given = true;
                    return parse_taps(v, o.taps);
                  }}},
      {"--repeat", {"a count from 1 to 1000",
                    [](std::string_view v, SweepOptions& o) {
                      std::uint64_t count = 0;
                      if (!parse_count(v, count) || count == 0 || count > 1000) return false;
                      o.repeat = static_cast<int>(count);
                      return true;
                    }}},
      {"--out", {"a file name",
                 [](std::string_view v, SweepOptions& o) {
                   o.out = std::string(v);
                   return !v.empty();
                 }}},
      {"--scale", {"a file name",
                   [](std::string_view v, SweepOptions& o) {
                     o.scale = std::string(v);
                     return !v.empty();
                   }}},
  };
  return options;
}

}  // namespace

std::vector<std::size_t> default_sweep_taps() {
  std::vector<std::size_t> taps;
  parse_taps("1..65536,1025", taps);
  return taps;
}

bool parse_sweep_arguments(const std::vector<std::string>& arguments, SweepOptions& options, std::string& error) {
  const auto flag = [](std::string_view name, SweepOptions& o) {
    if (name == "--help" || name == "-h") return o.help = true;
    if (name == "--version") return o.version = true;
    if (name == "--measure") return o.measure = true;
    return false;
  };
  options.taps.clear();
  if (!tool_options::parse<SweepOptions>(arguments, value_options(), flag, options, error)) return false;
  if (options.input && options.length_given) {
    error = "--length: the signal is --input's, its length is the file's";
    return false;
  }
  if (options.fir && options.taps_given) {
    error = "--taps: the filter is --fir's, its length is the file's";
    return false;
  }
  if (options.taps.empty()) options.taps = default_sweep_taps();
  return true;
}

std::string sweep_help_text() {
  return R"(usage: fir_sweep [options]

Runs both stages of fir_bench, direct and FFT overlap-add convolution, on
one signal for a range of filter lengths M (or for your own filter), and
writes one table row per M: each method's time two ways, how far the two
results lie apart, and how far each lies from the exact convolution. Beside
fir_bench's FFT, with its fixed rule (transforms of 2n for blocks of n, n
the smallest power of two not below max(M, min(N, 1024))), it times the FFT
at its best: the fastest transform length K >= M among powers of two and 3
and 5 times them, each block taking K - M + 1 new samples. Then it finds,
to the tap, the M from which each FFT is faster than direct convolution, by
each kind of time; for your own filter it names the fastest of the three.

The two times:
  loop   the stage's computation loop, by its own stopwatch: what fir_bench
         prints (columns direct_min_ms ... fft_median_ms);
  call   the whole call a caller waits for: allocation, FFTW's planner and
         plans, the filter's transform, the loop and the release, as in a
         program that filters once (columns *_call_min_ms, *_call_median_ms).
The loop time decides for a filter applied to many signals with the plans
kept; the call time for a signal filtered once.

  --length N      samples of the seeded noise signal, 1 to 4294967295
                  (default 100000)
  --seed S        seed of the noise and of the checked outputs, 0 to 2^64 - 1
                  (default 20261207)
  --input FILE    filter FILE's values instead (a signal file as fir_bench
                  reads it); not with --length
  --fir FILE      this filter only, one row (a signal file); not with --taps
  --taps LIST     tap counts M from 1 to 4294967295, and A..B for every power
                  of two from A to B, separated by commas (default
                  1..65536,1025); each filter is a Hamming-windowed lowpass
                  at 1000 Hz of 8000 Hz
  --repeat R      runs of each stage per M, direct and FFT in turn, 1 to 1000
                  (default 5; below 3 the times and the verdicts are noise
                  on most machines)
  --out FILE      write the table to FILE (default standard output)
  --scale FILE    also write per M the rounding scale 2^-53 * sum|h| * max|x|
                  (columns taps, scale), the reference line of the picture
  --measure       also plan the best FFT with FFTW_MEASURE (columns
                  fft_measure_len, fft_measure_min_ms, fft_measure_plan_ms)
  --version       show the version
  --help          show this text

The table is tab-separated. Its first lines, starting with '#', say what
produced it, "#", a key and its value a tab apart (samples, signal,
filters, seed, repeats, kernels, cpu, fftw, version); then a header line: taps, block (the FFT
stage's block length), the times in ms, rms and max_abs (the two results'
deviations, as fir_bench prints them), direct_error and fft_error (the
largest |y[k] - exact[k]| of each method, the exact sum formed to about 106
bits), the best FFT by the loop (fft_best_len, fft_best_block, its loop
times, fft_best_error) and by the whole call (fft_best_call_len, its call
times), and error_outputs (the outputs the errors cover: all
N + M - 1 where N * M <= 1e9, otherwise the first and last M and 1000
drawn from the seed). '#' lines at the end give the crossovers: "#",
"crossover", loop or call, rule or best, the M from which FFT stays faster
and the first and last M of the band of ties (a first past the last: no
band; "0 0 1": no crossover). With --fir, the verdict names the fastest by
the minimum times, or a tie where they lie within the spread of the runs
(median - minimum). Standard output carries only the
table; progress, the crossovers in words, the fixed rule's loop time over
the best's at each M and every message go to standard error. Values may also
be given as --option=value.

--out and --scale are opened before either is emptied, and held (locked)
until the sweep ends. Names are compared as files, not as text: the
command is refused when one cannot be opened or emptied (a link that leads
nowhere included: nothing is created through it), when both reach one
file, when either reaches a file that --input or --fir reads, or when
another run holds either. A refused command leaves every file as it was
and makes none.

Exit code 0 when the table is complete; 2 for a bad option or a refused
--out or --scale; 1 for a file that cannot be read or that reading stops
early in (nothing is written then), for a table or scale that cannot be
written completely (a file keeps its whole lines; standard output must be
open when it carries the table), and when memory runs out or a stage
cannot run (the message says which).

)";
}
