// The exact convolution, the judge of both stages' errors.
//
#include "sweep/sweep.h"

#include <algorithm>
#include <cmath>
#include <random>

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
    if (std::isnan(error)) return error;  // no later error may hide it
    largest = std::max(largest, error);
  }
  return largest;
}

double rounding_scale(const Signal& x, const Signal& h) {
  double taps = 0.0, largest = 0.0;
  for (const double tap : h) taps += std::fabs(tap);
  for (const double sample : x) largest = std::max(largest, std::fabs(sample));
  return std::ldexp(taps * largest, -53);
}
