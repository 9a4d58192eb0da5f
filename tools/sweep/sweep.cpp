#include "sweep/sweep.h"

#include <fftw3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <random>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"
#include "measure/measure.h"
#include "messages/messages.h"
#include "platform/platform_internal.h"
#include "signal_gen/signal_gen.h"
#include "timing/timing.h"

// ---- The exact convolution ----------------------------------------------------------
//
// Each output is summed as an unevaluated pair of doubles (s, c): every
// product a*b is split exactly into p + q (Dekker, with Veltkamp's halves,
// since this project's flags rule out a fused multiply-add), every sum s + p
// into t + r (Knuth), and the small parts are collected in c (Dot2 of Ogita,
// Rump and Oishi: as accurate as summing in twice the precision, about 106
// bits, then rounded once). The signal is zero-padded on each side, so the
// loops need no bounds: a term outside x is an exact zero.

namespace {

// The longest run of consecutive outputs computed together.
constexpr std::size_t run_length = 256;

// A double as the sum of two halves of 26 significant bits each, so that a
// product of two halves is exact.
struct Halves {
  Signal high, low;
};

Halves split(const Signal& values) {
  constexpr double splitter = 134217729.0;  // 2^27 + 1
  Halves out{Signal(values.size()), Signal(values.size())};
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double scaled = splitter * values[i];
    out.high[i] = scaled - (scaled - values[i]);
    out.low[i] = values[i] - out.high[i];
  }
  return out;
}

struct Exact {
  std::size_t samples, taps, pad;
  Signal x;  // the signal with `pad` zeros on each side
  Halves x_halves;
  const Signal& h;
  Halves h_halves;
};

Exact prepare_exact(const Signal& x, const Signal& h) {
  const std::size_t pad = h.size() + run_length;  // a run reaches M + its length back and on
  Signal padded(x.size() + 2 * pad, 0.0);
  std::copy(x.begin(), x.end(), padded.begin() + static_cast<std::ptrdiff_t>(pad));
  Halves x_halves = split(padded);
  return Exact{x.size(), h.size(), pad, std::move(padded), std::move(x_halves), h, split(h)};
}

// (s, c) += a * b, a and b given with their halves.
inline void add_product(double a, double a_high, double a_low, double b, double b_high, double b_low, double& s,
                        double& c) {
  const double p = a * b;
  const double q = ((a_high * b_high - p) + a_high * b_low + a_low * b_high) + a_low * b_low;  // p + q = a b
  const double t = s + p;
  const double z = t - s;
  const double r = (s - (t - z)) + (p - z);  // t + r = s + p
  s = t;
  c = c + (q + r);
}

// Outputs k0 .. k0 + count - 1 (count <= run_length) as pairs (high,
// low). The inner loop runs over consecutive outputs held in local arrays,
// so the compiler can do several at once.
void exact_run(const Exact& e, std::size_t k0, std::size_t count, double* high, double* low) {
  double s[run_length] = {}, c[run_length] = {};
  const std::size_t first_tap = k0 + 1 > e.samples ? k0 + 1 - e.samples : 0;
  const std::size_t last_tap = std::min(e.taps - 1, k0 + count - 1);
  for (std::size_t j = first_tap; j <= last_tap; ++j) {
    const std::size_t base = k0 + e.pad - j;  // x[k - j] for k = k0
    const double* x = e.x.data() + base;
    const double* x_high = e.x_halves.high.data() + base;
    const double* x_low = e.x_halves.low.data() + base;
    const double a = e.h[j], a_high = e.h_halves.high[j], a_low = e.h_halves.low[j];
    for (std::size_t t = 0; t < count; ++t) add_product(a, a_high, a_low, x[t], x_high[t], x_low[t], s[t], c[t]);
  }
  std::copy(s, s + count, high);
  std::copy(c, c + count, low);
}

}  // namespace

std::vector<std::size_t> error_indices(std::size_t samples, std::size_t taps, std::uint64_t seed) {
  const std::size_t length = samples + taps - 1;
  std::vector<std::size_t> indices;
  if (static_cast<double>(samples) * static_cast<double>(taps) <= exact_all_limit) {
    indices.resize(length);
    for (std::size_t k = 0; k < length; ++k) indices[k] = k;
    return indices;
  }
  const std::size_t edge = std::min(taps, length);
  for (std::size_t k = 0; k < edge; ++k) indices.push_back(k);
  for (std::size_t k = length - edge; k < length; ++k) indices.push_back(k);
  std::mt19937_64 generator(seed);
  for (int draw = 0; draw < 1000; ++draw) indices.push_back(static_cast<std::size_t>(generator() % length));
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  return indices;
}

ExactOutputs exact_outputs(const Signal& x, const Signal& h, const std::vector<std::size_t>& indices) {
  const Exact exact = prepare_exact(x, h);
  ExactOutputs out{Signal(indices.size()), Signal(indices.size())};
  for (std::size_t at = 0; at < indices.size();) {
    // A run of consecutive indices, at most run_length long.
    std::size_t count = 1;
    while (count < run_length && at + count < indices.size() && indices[at + count] == indices[at] + count) ++count;
    exact_run(exact, indices[at], count, out.high.data() + at, out.low.data() + at);
    at += count;
  }
  return out;
}

double largest_error(const Signal& y, const std::vector<std::size_t>& indices, const ExactOutputs& exact) {
  double largest = 0.0;
  for (std::size_t at = 0; at < indices.size(); ++at) {
    const double error = std::fabs((y[indices[at]] - exact.high[at]) - exact.low[at]);
    if (!(error <= largest)) largest = error;  // a NaN error is kept
  }
  return largest;
}

// ---- Timing the two methods ------------------------------------------------------

namespace {

// The run's own message for a stage that could not run, as UTF-8.
std::string stage_failure(Status status, messages::Step step) {
  return cp1251_to_utf8(messages::failure_message(status, step));
}

// One call of `stage` into a fresh result, its loop and whole-call times
// appended to `times`; the result goes to `kept` when given.
template <typename Stage>
Status time_call(Stage stage, const Signal& x, const Signal& h, MethodTimes& times, Signal* kept) {
  Signal y;  // the call allocates its result, as the program's does
  Status status = Status::ok;
  const double call = measure::seconds_of([&] { status = stage(x, h, y); });
  if (status != Status::ok) return status;
  times.loop.push_back(stopwatch.average_ms);
  times.call.push_back(call * 1e3);
  if (kept != nullptr) *kept = std::move(y);
  return Status::ok;
}

}  // namespace

bool time_methods(const Signal& x, const Signal& h, int repeat, BothTimes& times, std::string& error, Signal* direct,
                  Signal* fft) {
  times = BothTimes{};
  for (int r = 0; r < repeat; ++r) {
    if (const Status status = time_call(convolve_direct, x, h, times.direct, r == 0 ? direct : nullptr);
        status != Status::ok) {
      error = stage_failure(status, messages::Step::direct);
      return false;
    }
    // FFTW forgets its planner and what it planned, so that each call
    // pays for planning as the program's one call does.
    fftw_cleanup();
    if (const Status status = time_call(convolve_overlap_add, x, h, times.fft, r == 0 ? fft : nullptr);
        status != Status::ok) {
      error = stage_failure(status, messages::Step::fft);
      return false;
    }
  }
  return true;
}

// ---- One filter length ----------------------------------------------------------

Signal sweep_filter(std::size_t taps) {
  FilterSettings settings;
  settings.taps = taps;
  return make_filter(settings, SignalSettings{}.sample_rate);
}

bool measure_filter_length(const Signal& x, const Signal& h, int repeat, std::uint64_t seed, SweepRow& row,
                           std::string& error) {
  dsp_internal::OverlapAddLayout layout{};
  if (const Status fits = dsp_internal::overlap_add_layout(x.size(), h.size(), layout); fits != Status::ok) {
    error = stage_failure(fits, messages::Step::fft);
    return false;
  }
  BothTimes times;
  Signal direct, fft;
  if (!time_methods(x, h, repeat, times, error, &direct, &fft)) return false;
  Signal difference;
  DeviationStats deviations{};
  if (const Status status = compare_signals(direct, fft, difference, deviations); status != Status::ok) {
    error = stage_failure(status, messages::Step::compare);
    return false;
  }
  const std::vector<std::size_t> indices = error_indices(x.size(), h.size(), seed);
  const ExactOutputs exact = exact_outputs(x, h, indices);
  row = SweepRow{h.size(),
                 static_cast<std::size_t>(layout.block_length),
                 measure::minimum(times.direct.loop),
                 measure::median(times.direct.loop),
                 measure::minimum(times.fft.loop),
                 measure::median(times.fft.loop),
                 measure::minimum(times.direct.call),
                 measure::median(times.direct.call),
                 measure::minimum(times.fft.call),
                 measure::median(times.fft.call),
                 deviations.rms,
                 deviations.max_abs,
                 largest_error(direct, indices, exact),
                 largest_error(fft, indices, exact),
                 indices.size()};
  return true;
}

// ---- Where FFT overtakes direct ----------------------------------------------------

namespace {

Comparison compare_mins(double direct_min, double direct_median, double fft_min, double fft_median) {
  const double spread = std::max(direct_median - direct_min, fft_median - fft_min);
  return {fft_min < direct_min, std::fabs(fft_min - direct_min) <= spread};
}

Comparison compare_row(const SweepRow& row, TimeKind kind) {
  return kind == TimeKind::loop
             ? compare_mins(row.direct_min_ms, row.direct_median_ms, row.fft_min_ms, row.fft_median_ms)
             : compare_mins(row.direct_call_min_ms, row.direct_call_median_ms, row.fft_call_min_ms,
                            row.fft_call_median_ms);
}

}  // namespace

Comparison compare_times(const std::vector<double>& direct, const std::vector<double>& fft) {
  return compare_mins(measure::minimum(direct), measure::median(direct), measure::minimum(fft), measure::median(fft));
}

namespace {

// Which side of the crossover M lies on: direct faster beyond the spread,
// within the spread, or FFT faster beyond it. Along M they come in this
// order.
enum class Side { direct, tie, fft };
Side side(const Comparison& c) { return c.tie ? Side::tie : c.fft_faster ? Side::fft : Side::direct; }

// The first M in (low, high] where `holds(M)`, false at low and true at
// high, by bisection.
std::size_t first_where(std::size_t low, std::size_t high, const std::function<bool(std::size_t)>& holds) {
  while (high - low > 1) {
    const std::size_t middle = low + (high - low) / 2;
    (holds(middle) ? high : low) = middle;
  }
  return high;
}

}  // namespace

std::optional<Crossover> find_crossover(const std::vector<SweepRow>& rows, TimeKind kind,
                                        const std::function<Comparison(std::size_t)>& compare) {
  std::vector<Comparison> listed;
  for (const SweepRow& row : rows) listed.push_back(compare_row(row, kind));
  const auto at = [&](std::size_t taps) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].taps == taps) return listed[i];
    }
    return compare(taps);
  };
  std::size_t from = rows.size();  // the first row of the run where FFT stays faster
  while (from > 0 && listed[from - 1].fft_faster) --from;
  if (from == rows.size()) return std::nullopt;
  const std::size_t crossover =
      from == 0 ? rows[0].taps
                : first_where(rows[from - 1].taps, rows[from].taps, [&](std::size_t m) { return at(m).fft_faster; });
  // The band of ties around it: from the first M not on direct's side to
  // the first on FFT's side, each bracketed by the listed rows.
  std::size_t tie_from = rows[0].taps;
  for (std::size_t i = from; i-- > 0;) {
    if (side(listed[i]) == Side::direct) {
      tie_from = first_where(rows[i].taps, crossover, [&](std::size_t m) { return side(at(m)) != Side::direct; });
      break;
    }
  }
  std::size_t fft_side = rows.back().taps + 1;
  if (side(at(crossover)) == Side::fft) {
    fft_side = crossover;
  } else {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].taps > crossover && side(listed[i]) == Side::fft) {
        fft_side = first_where(crossover, rows[i].taps, [&](std::size_t m) { return side(at(m)) == Side::fft; });
        break;
      }
    }
  }
  return Crossover{crossover, tie_from, fft_side - 1};
}

// ---- The table ------------------------------------------------------------------

namespace {

void append_number(std::string& line, double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  line.append(text, end);
}

void append_count(std::string& line, std::uint64_t value) {
  char text[24];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  line.append(text, end);
}

}  // namespace

std::string provenance_lines(const Provenance& p) {
  std::string text = "# fir_sweep " + p.version + ": fir_bench's two stages over filter lengths\n";
  text += "# N = ";
  append_count(text, p.samples);
  text += " samples from " + p.input + "; filters: " + p.fir + "\n# seed ";
  append_count(text, p.seed);
  text += ", repeats ";
  append_count(text, static_cast<std::uint64_t>(p.repeat));
  text += ", kernels " + p.isa + ", CPU " + p.cpu + ", FFTW " + p.fftw + "\n";
  text += "# *_ms: the loop as fir_bench prints it; *_call_*: the whole call (allocation, planning, filter "
          "transform, loop, release)\n";
  text += "# *_error: largest |y - exact| over error_outputs outputs: all of them where N * M <= 1e9, else the "
          "first and last M and 1000 drawn from the seed\n";
  return text;
}

std::string sweep_header() {
  return "taps\tblock\tdirect_min_ms\tdirect_median_ms\tfft_min_ms\tfft_median_ms\tdirect_call_min_ms\t"
         "direct_call_median_ms\tfft_call_min_ms\tfft_call_median_ms\trms\tmax_abs\tdirect_error\tfft_error\t"
         "error_outputs\n";
}

std::string sweep_row_text(const SweepRow& row) {
  std::string line;
  append_count(line, row.taps);
  line += '\t';
  append_count(line, row.block);
  for (const double value : {row.direct_min_ms, row.direct_median_ms, row.fft_min_ms, row.fft_median_ms,
                             row.direct_call_min_ms, row.direct_call_median_ms, row.fft_call_min_ms,
                             row.fft_call_median_ms, row.rms, row.max_abs, row.direct_error, row.fft_error}) {
    line += '\t';
    append_number(line, value);
  }
  line += '\t';
  append_count(line, row.error_outputs);
  line += '\n';
  return line;
}

std::string scale_row_text(std::size_t taps, double scale) {
  std::string line;
  append_count(line, taps);
  line += '\t';
  append_number(line, scale);
  line += '\n';
  return line;
}

double rounding_scale(const Signal& x, const Signal& h) {
  double taps = 0.0, largest = 0.0;
  for (const double tap : h) taps += std::fabs(tap);
  for (const double sample : x) largest = std::max(largest, std::fabs(sample));
  return std::ldexp(taps * largest, -53);
}
