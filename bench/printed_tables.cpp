// printed_times' tables: each column a ratio paired run by run or a time,
// computed from the runs of one case.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "measure/measure.h"
#include "printed_times.h"

namespace {

using measure::median;
using measure::minimum;

// What a cell of the main table is computed from.
struct Row {
  Case c;
  const Times& t;
  double peak, bound;  // multiply-adds per second

  double macs() const { return static_cast<double>(c.samples) * static_cast<double>(c.taps); }
  template <typename Value>
  double median_of(Value value) const {
    std::vector<double> values;
    for (const Run& run : t.runs) values.push_back(value(run));
    return median(values);
  }
  std::vector<double> values(double Run::*time) const {
    std::vector<double> out;
    for (const Run& run : t.runs) out.push_back(run.*time);
    return out;
  }
  // The median of a ratio taken run by run.
  double paired(double Run::*numerator, double Run::*denominator) const {
    return median_of([&](const Run& r) { return r.*numerator / r.*denominator; });
  }
  // The median share of `rate` the printed direct time reaches.
  double share(double rate) const {
    return 100.0 * median_of([&](const Run& r) { return macs() / (r.printed_direct * 1e-3) / rate; });
  }
  // The printed direct time over its floor, max(N * M at the bound's rate, stream).
  double over_floor() const {
    return median_of([&](const Run& r) { return r.printed_direct / std::max(1e3 * macs() / bound, r.stream); });
  }
  std::string best_and_median(double Run::*time) const {
    const std::vector<double> all = values(time);
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.3f (%.3f)", minimum(all), median(all));
    return cell;
  }
};

std::string text(const char* format, double value) {
  char cell[64];
  std::snprintf(cell, sizeof cell, format, value);
  return cell;
}

// A column of a table: its header, and its cell for one case.
struct Column {
  const char* header;
  std::string (*cell)(const Row& row);
};

// Ratios first (each the median of ratios paired run by run), then the
// times: best and median of the runs, or the median of the measurements.
const Column main_columns[] = {
    {"direct printed / cold", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_direct, &Run::cold_direct)); }},
    {"direct printed / warm", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_direct, &Run::warm_direct)); }},
    {"direct printed / floor", [](const Row& r) { return text("%.2f", r.over_floor()); }},
    {"direct of bound", [](const Row& r) { return text("%.0f%%", r.share(r.bound)); }},
    {"direct of peak", [](const Row& r) { return text("%.0f%%", r.share(r.peak)); }},
    {"FFT printed / cold", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::cold_fft)); }},
    {"FFT printed / floor", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::floor_fft)); }},
    {"FFT printed / warm", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::warm_fft)); }},
    {"scipy / FFT printed",
     [](const Row& r) { return r.t.scipy ? text("%.2f", *r.t.scipy / median(r.values(&Run::printed_fft))) : "-"; }},
    {"direct printed ms, best (median)", [](const Row& r) { return r.best_and_median(&Run::printed_direct); }},
    {"direct cold ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::cold_direct))); }},
    {"direct warm ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::warm_direct))); }},
    {"stream ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::stream))); }},
    {"FFT printed ms, best (median)", [](const Row& r) { return r.best_and_median(&Run::printed_fft); }},
    {"FFT cold ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::cold_fft))); }},
    {"FFT floor ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::floor_fft))); }},
    {"FFT warm ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::warm_fft))); }},
    {"scipy oaconvolve ms", [](const Row& r) { return r.t.scipy ? text("%.3f", *r.t.scipy) : "-"; }},
};

// This build's printed times over the other build's, run by run.
const Column other_columns[] = {
    {"direct printed / other's", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_direct, &Run::other_direct)); }},
    {"FFT printed / other's", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::other_fft)); }},
    {"other direct ms, best", [](const Row& r) { return text("%.3f", minimum(r.values(&Run::other_direct))); }},
    {"other FFT ms, best", [](const Row& r) { return text("%.3f", minimum(r.values(&Run::other_fft))); }},
};

template <std::size_t count>
void print_table(const Results& results, const Column (&columns)[count], double peak, double bound) {
  std::printf("\n| N x M |");
  for (const Column& column : columns) std::printf(" %s |", column.header);
  std::printf("\n|---|");
  for (std::size_t k = 0; k < count; ++k) std::printf("---:|");
  std::printf("\n");
  for (const auto& [c, t] : results) {
    std::printf("| %zu x %zu |", c.samples, c.taps);
    for (const Column& column : columns) std::printf(" %s |", column.cell(Row{c, t, peak, bound}).c_str());
    std::printf("\n");
  }
}

// The direct stage on each instruction set, cold and warm, against the
// same bound.
void print_direct_by_row(const Results& results, double bound) {
  std::printf("\n| N x M |");
  for (const RowTimes& row : results.front().second.by_row) {
    std::printf(" %s cold ms | %s warm ms (of bound) | %s cold / warm |", row.row, row.row, row.row);
  }
  std::printf("\n|---|");
  for (std::size_t k = 0; k < results.front().second.by_row.size(); ++k) std::printf("---:|---:|---:|");
  std::printf("\n");
  for (const auto& [c, t] : results) {
    const double macs = static_cast<double>(c.samples) * static_cast<double>(c.taps);
    std::printf("| %zu x %zu |", c.samples, c.taps);
    for (const RowTimes& row : t.by_row) {
      std::printf(" %.3f | %.3f (%.0f%%) | %.2f |", row.cold, row.warm, 100.0 * macs / (row.warm * 1e-3) / bound,
                  row.cold / row.warm);
    }
    std::printf("\n");
  }
}

}  // namespace

void print_tables(const Results& results, double peak, double bound, bool other) {
  print_table(results, main_columns, peak, bound);
  if (other) print_table(results, other_columns, peak, bound);
  print_direct_by_row(results, bound);
}
