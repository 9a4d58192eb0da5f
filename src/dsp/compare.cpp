#include <cassert>
#include <cmath>

#include "dsp/dsp.h"

Status compare_signals(const Signal& y, const Signal& f, Signal& d, DeviationStats& deviations) {
  const std::size_t length = y.size();
  assert(f.size() >= length);
  // d is replaced by the L differences; each is written once, so no
  // zero-filling pass comes first.
  d.clear();
  if (const Status reserved = allocating([&] { d.reserve(length); }); reserved != Status::ok) return reserved;
  double sum_of_squares = 0.0;
  double max_abs = 0.0;
  // One pass in index order: the squares summed from 0.0, one addition
  // each, never reassociated; the running maximum takes |d[k]| unless
  // |d[k]| < max_abs, so that a NaN difference makes it a NaN and the next
  // difference of any size replaces it.
  for (std::size_t k = 0; k < length; ++k) {
    const double e = y[k] - f[k];
    d.push_back(e);
    sum_of_squares = sum_of_squares + e * e;
    const double magnitude = std::fabs(e);
    if (!(magnitude < max_abs)) max_abs = magnitude;
  }
  const double count = static_cast<double>(length);
  double rms = std::sqrt(sum_of_squares / count);
  // The squares can overflow while every difference is finite (differences
  // above about 1e154). Only then is the RMS taken from the differences
  // scaled by the largest one, each scaled square at most 1: finite, and
  // never above the maximum. Every other sum keeps the plain bits.
  if (std::isinf(sum_of_squares) && std::isfinite(max_abs)) {
    double scaled_sum = 0.0;
    for (const double e : d) scaled_sum = scaled_sum + (e / max_abs) * (e / max_abs);
    rms = max_abs * std::sqrt(scaled_sum / count);
  }
  deviations = DeviationStats{rms, max_abs};
  return Status::ok;
}
