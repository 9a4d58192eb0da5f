#include "sweep/sweep.h"

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
  const std::size_t edge = std::min(taps, length);
  std::vector<std::size_t> indices;
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

// ---- One filter length ----------------------------------------------------------

namespace {

// The run's own message for a stage that could not run, as UTF-8.
std::string stage_failure(Status status, messages::Step step) {
  return cp1251_to_utf8(messages::failure_message(status, step));
}

}  // namespace

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
  Signal direct, fft, again;  // the first results are kept, later ones go to `again`
  std::vector<double> direct_ms, fft_ms;
  for (int r = 0; r < repeat; ++r) {
    if (const Status status = convolve_direct(x, h, r == 0 ? direct : again); status != Status::ok) {
      error = stage_failure(status, messages::Step::direct);
      return false;
    }
    direct_ms.push_back(stopwatch.average_ms);
    if (const Status status = convolve_overlap_add(x, h, r == 0 ? fft : again); status != Status::ok) {
      error = stage_failure(status, messages::Step::fft);
      return false;
    }
    fft_ms.push_back(stopwatch.average_ms);
  }
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
                 *std::min_element(direct_ms.begin(), direct_ms.end()),
                 measure::median(direct_ms),
                 *std::min_element(fft_ms.begin(), fft_ms.end()),
                 measure::median(fft_ms),
                 deviations.rms,
                 deviations.max_abs,
                 largest_error(direct, indices, exact),
                 largest_error(fft, indices, exact)};
  return true;
}

// ---- The table ------------------------------------------------------------------

namespace {

void append_number(std::string& line, double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  line.append(text, end);
}

void append_count(std::string& line, std::size_t value) {
  char text[24];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  line.append(text, end);
}

}  // namespace

std::string sweep_header() {
  return "taps\tblock\tdirect_min_ms\tdirect_median_ms\tfft_min_ms\tfft_median_ms\trms\tmax_abs\tdirect_error\t"
         "fft_error\n";
}

std::string sweep_row_text(const SweepRow& row) {
  std::string line;
  append_count(line, row.taps);
  line += '\t';
  append_count(line, row.block);
  for (const double value : {row.direct_min_ms, row.direct_median_ms, row.fft_min_ms, row.fft_median_ms, row.rms,
                             row.max_abs, row.direct_error, row.fft_error}) {
    line += '\t';
    append_number(line, value);
  }
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

std::optional<std::size_t> fft_crossover(const std::vector<SweepRow>& rows) {
  std::optional<std::size_t> from;
  for (auto row = rows.rbegin(); row != rows.rend() && row->fft_min_ms < row->direct_min_ms; ++row) from = row->taps;
  return from;
}

double rounding_scale(const Signal& x, const Signal& h) {
  double taps = 0.0, largest = 0.0;
  for (const double tap : h) taps += std::fabs(tap);
  for (const double sample : x) largest = std::max(largest, std::fabs(sample));
  return std::ldexp(taps * largest, -53);
}
