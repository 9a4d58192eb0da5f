// Both stages timed as fir_bench runs them, the FFT at its best length beside
// them, and one filter length's row.

#include "sweep/sweep.h"

#include <algorithm>
#include <string>
#include <utility>

#include "dsp/dsp.h"
#include "dsp/overlap_add.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"
#include "timing/timing.h"

namespace {

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
      error = problem_text("the direct stage", Use::run, status);
      return false;
    }
    // Each call pays for planning as the program's one call does.
    overlap_add_forget_plans();
    if (const Status status = time_call(convolve_overlap_add, x, h, times.fft, r == 0 ? fft : nullptr);
        status != Status::ok) {
      error = problem_text("the FFT stage", Use::run, status);
      return false;
    }
  }
  return true;
}

bool time_best_fft(const Signal& x, const Signal& h, int repeat, Planner planner, BestFft& best, std::string& error,
                   Signal* first) {
  OverlapAddLayout layout{};
  overlap_add_layout(x.size(), h.size(), layout);
  std::vector<std::size_t> lengths = fft_length_candidates(x.size(), h.size(), 5);
  // The rule's own length, with the longer block the best method gives it.
  const std::size_t rule = stage_shape(layout).transform_length;
  if (rule >= h.size() && std::find(lengths.begin(), lengths.end(), rule) == lengths.end()) lengths.push_back(rule);
  best = BestFft{};
  double loop_ms = 0.0, call_ms = 0.0;
  for (const std::size_t length : lengths) {
    MethodTimes times;
    double plan_ms = 0.0;
    Signal y;
    for (int r = 0; r < repeat; ++r) {
      // Each call plans from nothing, as fir_bench's one call does; a
      // measuring planner's trials only the first time, the time it
      // reports.
      if (r == 0 || planner == Planner::estimate) overlap_add_forget_plans();
      Status status = Status::ok;
      const double call = measure::seconds_of([&] { status = convolve_fft_length(x, h, length, planner, y, plan_ms); });
      if (status != Status::ok) {
        error = problem_text("the FFT stage", Use::run, status);
        return false;
      }
      times.loop.push_back(stopwatch.average_ms);
      times.call.push_back(call * 1e3);
    }
    if (best.length == 0 || measure::minimum(times.loop) < loop_ms) {
      loop_ms = measure::minimum(times.loop);
      best.length = length, best.block = length - h.size() + 1, best.loop = times.loop, best.plan_ms = plan_ms;
      if (first != nullptr) *first = std::move(y);
    }
    if (best.call_length == 0 || measure::minimum(times.call) < call_ms) {
      call_ms = measure::minimum(times.call);
      best.call_length = length, best.call = times.call;
    }
  }
  return true;
}

// ---- One filter length ----------------------------------------------------------

bool measure_filter_length(const Signal& x, const Signal& h, int repeat, std::uint64_t seed, bool measure,
                           SweepRow& row, std::string& error) {
  OverlapAddLayout layout{};
  if (const Status fits = overlap_add_layout(x.size(), h.size(), layout); fits != Status::ok) {
    error = problem_text("the FFT stage", Use::run, fits);
    return false;
  }
  BothTimes times;
  BestFft best{}, measured{};
  Signal direct, fft, fft_best;
  if (!time_methods(x, h, repeat, times, error, &direct, &fft)) return false;
  if (!time_best_fft(x, h, repeat, Planner::estimate, best, error, &fft_best)) return false;
  if (measure && !time_best_fft(x, h, repeat, Planner::measure, measured, error)) return false;
  Signal difference;
  DeviationStats deviations{};
  if (const Status status = compare_signals(direct, fft, difference, deviations); status != Status::ok) {
    error = problem_text("the comparison", Use::run, status);
    return false;
  }
  const std::vector<std::size_t> indices = error_indices(x.size(), h.size(), seed);
  const ExactOutputs exact = exact_outputs(x, h, indices);
  using measure::median, measure::minimum;
  row = SweepRow{.taps = h.size(),
                 .block = static_cast<std::size_t>(layout.block_length),
                 .direct_min_ms = minimum(times.direct.loop),
                 .direct_median_ms = median(times.direct.loop),
                 .fft_min_ms = minimum(times.fft.loop),
                 .fft_median_ms = median(times.fft.loop),
                 .direct_call_min_ms = minimum(times.direct.call),
                 .direct_call_median_ms = median(times.direct.call),
                 .fft_call_min_ms = minimum(times.fft.call),
                 .fft_call_median_ms = median(times.fft.call),
                 .rms = deviations.rms,
                 .max_abs = deviations.max_abs,
                 .direct_error = largest_error(direct, indices, exact),
                 .fft_error = largest_error(fft, indices, exact),
                 .fft_best_length = best.length,
                 .fft_best_block = best.block,
                 .fft_best_min_ms = minimum(best.loop),
                 .fft_best_median_ms = median(best.loop),
                 .fft_best_error = largest_error(fft_best, indices, exact),
                 .fft_best_call_length = best.call_length,
                 .fft_best_call_min_ms = minimum(best.call),
                 .fft_best_call_median_ms = median(best.call),
                 .fft_measure_length = measured.length,
                 .fft_measure_min_ms = measure ? minimum(measured.loop) : 0.0,
                 .fft_measure_plan_ms = measured.plan_ms,
                 .error_outputs = indices.size()};
  return true;
}
