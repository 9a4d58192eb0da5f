// Where FFT overtakes direct: the crossover to the tap and its band of ties.

#include "sweep/sweep.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "measure/measure.h"
#include "signal_gen/signal_gen.h"

namespace {

Comparison compare_mins(double direct_min, double direct_median, double fft_min, double fft_median) {
  const double spread = std::max(direct_median - direct_min, fft_median - fft_min);
  return {fft_min < direct_min, std::fabs(fft_min - direct_min) <= spread};
}

Comparison compare_row(const SweepRow& row, TimeKind kind, FftMethod method) {
  const bool best = method == FftMethod::best;
  if (kind == TimeKind::loop) {
    return compare_mins(row.direct_min_ms, row.direct_median_ms, best ? row.fft_best_min_ms : row.fft_min_ms,
                        best ? row.fft_best_median_ms : row.fft_median_ms);
  }
  return compare_mins(row.direct_call_min_ms, row.direct_call_median_ms,
                      best ? row.fft_best_call_min_ms : row.fft_call_min_ms,
                      best ? row.fft_best_call_median_ms : row.fft_call_median_ms);
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

std::optional<Crossover> find_crossover(const std::vector<SweepRow>& rows, TimeKind kind, FftMethod method,
                                        const std::function<Comparison(std::size_t)>& compare) {
  std::vector<Comparison> listed;
  for (const SweepRow& row : rows) listed.push_back(compare_row(row, kind, method));
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


Comparison Probes::compare(std::size_t taps, TimeKind kind, FftMethod method) {
  auto found = measured.find(taps);
  if (found == measured.end()) {
    if (!problem.empty()) return {false, false};
    Measured m;
    std::string error;
    const Signal h = standard_lowpass(taps);
    if (!time_methods(x, h, repeat, m.times, error) || !time_best_fft(x, h, repeat, Planner::estimate, m.best, error)) {
      problem = "M = " + std::to_string(taps) + " (bisection): " + error;
      return {false, false};
    }
    std::fprintf(stderr, "M = %zu (bisection)\n", taps);
    found = measured.emplace(taps, std::move(m)).first;
  }
  const BothTimes& t = found->second.times;
  const BestFft& best = found->second.best;
  const bool at_best = method == FftMethod::best;
  return kind == TimeKind::loop ? compare_times(t.direct.loop, at_best ? best.loop : t.fft.loop)
                                : compare_times(t.direct.call, at_best ? best.call : t.fft.call);
}
