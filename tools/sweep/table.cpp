// fir_sweep's texts: its problems, and the table's provenance, header and
// rows, numbers written locale-independently.

#include "sweep/sweep.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace {

void append_number(std::string& line, double value) {
  if (std::isnan(value)) {  // as fir_bench prints it, whatever the sign bit
    line += "nan";
    return;
  }
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

std::string problem_text(const std::string& what, Use use, Status status) {
  static constexpr const char* verbs[] = {"read ", "write ", "hold ", "run "};
  const std::string verb = verbs[static_cast<int>(use)];
  switch (status) {
    case Status::ok:
      return {};
    case Status::file_error:
      return "cannot " + verb + what;
    case Status::out_of_memory:
      return "not enough memory to " + verb + what;
    case Status::too_long:
      return use == Use::run ? what + ": the signal or its transform is too long"
                             : what + " holds more values than a signal can count";
    case Status::fftw_failed:
      return "FFTW could not plan the transforms of " + what;
  }
  return "cannot use " + what;
}

namespace {

constexpr SweepColumn count(const char* name, std::size_t SweepRow::*member, bool measured = false) {
  return {.name = name, .unit = "", .count = member, .value = nullptr, .measured = measured};
}
constexpr SweepColumn value(const char* name, const char* unit, double SweepRow::*member, bool measured = false) {
  return {.name = name, .unit = unit, .count = nullptr, .value = member, .measured = measured};
}

constexpr SweepColumn columns[] = {
    count("taps", &SweepRow::taps), count("block", &SweepRow::block),
    value("direct_min", "ms", &SweepRow::direct_min_ms), value("direct_median", "ms", &SweepRow::direct_median_ms),
    value("fft_min", "ms", &SweepRow::fft_min_ms), value("fft_median", "ms", &SweepRow::fft_median_ms),
    value("direct_call_min", "ms", &SweepRow::direct_call_min_ms),
    value("direct_call_median", "ms", &SweepRow::direct_call_median_ms),
    value("fft_call_min", "ms", &SweepRow::fft_call_min_ms),
    value("fft_call_median", "ms", &SweepRow::fft_call_median_ms),
    value("rms", "", &SweepRow::rms), value("max_abs", "", &SweepRow::max_abs),
    value("direct_error", "", &SweepRow::direct_error), value("fft_error", "", &SweepRow::fft_error),
    count("fft_best_len", &SweepRow::fft_best_length), count("fft_best_block", &SweepRow::fft_best_block),
    value("fft_best_min", "ms", &SweepRow::fft_best_min_ms),
    value("fft_best_median", "ms", &SweepRow::fft_best_median_ms), value("fft_best_error", "", &SweepRow::fft_best_error),
    count("fft_best_call_len", &SweepRow::fft_best_call_length),
    value("fft_best_call_min", "ms", &SweepRow::fft_best_call_min_ms),
    value("fft_best_call_median", "ms", &SweepRow::fft_best_call_median_ms),
    count("fft_measure_len", &SweepRow::fft_measure_length, true),
    value("fft_measure_min", "ms", &SweepRow::fft_measure_min_ms, true),
    value("fft_measure_plan", "ms", &SweepRow::fft_measure_plan_ms, true),
    count("error_outputs", &SweepRow::error_outputs),
};

// "#", the key and its fields, each after a tab.
std::string keyed_line(const std::string& key, const std::string& fields) { return "#\t" + key + "\t" + fields + "\n"; }

}  // namespace

std::span<const SweepColumn> sweep_columns() { return columns; }

std::string column_header(const SweepColumn& column) {
  return *column.unit == '\0' ? std::string(column.name) : std::string(column.name) + "_" + column.unit;
}

std::string provenance_lines(const Provenance& p) {
  std::string text = "# fir_sweep " + p.version + ": fir_bench's two stages over filter lengths\n";
  std::string samples, seed, repeats;
  append_count(samples, p.samples);
  append_count(seed, p.seed);
  append_count(repeats, static_cast<std::uint64_t>(p.repeat));
  text += keyed_line("samples", samples) + keyed_line("signal", p.input) + keyed_line("filters", p.fir);
  text += keyed_line("seed", seed) + keyed_line("repeats", repeats) + keyed_line("kernels", p.isa);
  text += keyed_line("cpu", p.cpu) + keyed_line("fftw", p.fftw) + keyed_line("version", p.version);
  text += "# *_ms: the loop as fir_bench prints it; *_call_*: the whole call (allocation, planning, filter "
          "transform, loop, release)\n";
  text += "# *_error: largest |y - exact| over error_outputs outputs: all of them where N * M <= 1e9, else the "
          "first and last M and 1000 drawn from the seed\n";
  return text;
}

std::string sweep_header(bool measured) {
  std::string line;
  for (const SweepColumn& column : columns) {
    if (column.measured && !measured) continue;
    if (!line.empty()) line += '\t';
    line += column_header(column);
  }
  return line + "\n";
}

std::string sweep_row_text(const SweepRow& row, bool measured) {
  std::string line;
  for (const SweepColumn& column : columns) {
    if (column.measured && !measured) continue;
    if (!line.empty()) line += '\t';
    if (column.count != nullptr) {
      append_count(line, row.*column.count);
    } else {
      append_number(line, row.*column.value);
    }
  }
  return line + "\n";
}

std::string scale_row_text(std::size_t taps, double scale) {
  std::string line;
  append_count(line, taps);
  line += '\t';
  append_number(line, scale);
  line += '\n';
  return line;
}

namespace {

std::string crossover_text(const char* kind, const std::optional<Crossover>& crossover) {
  if (!crossover) return std::string("FFT ") + kind + " not faster at the longest filter";
  std::string text = std::string("FFT ") + kind + " faster from M = " + std::to_string(crossover->taps);
  if (crossover->tie_from <= crossover->tie_to) {
    text += " (a tie, within the measured spread, from M = " + std::to_string(crossover->tie_from) + " to " +
            std::to_string(crossover->tie_to) + ")";
  }
  return text;
}

std::string ratio_text(double ratio) {
  char digits[32];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, ratio, std::chars_format::fixed, 2);
  return std::string(digits, end);
}

}  // namespace

std::string crossover_fields(const Crossovers& c) {
  const std::pair<const char*, const std::optional<Crossover>*> all[] = {
      {"loop\trule", &c.loop}, {"call\trule", &c.call}, {"loop\tbest", &c.best_loop}, {"call\tbest", &c.best_call}};
  std::string text;
  for (const auto& [kind, crossover] : all) {
    const Crossover found = crossover->value_or(Crossover{0, 0, 1});
    std::string fields = kind;
    for (const std::size_t taps : {found.taps, found.tie_from, found.tie_to}) {
      fields += '\t';
      append_count(fields, taps);
    }
    text += keyed_line("crossover", fields);
  }
  return text;
}

std::string crossover_prose(const Crossovers& c, const std::vector<SweepRow>& rows, std::size_t samples) {
  const std::string n = " (N = " + std::to_string(samples) + ")\n";
  std::string text = crossover_text("loop", c.loop) + "; " + crossover_text("call", c.call) + n;
  text += "best " + crossover_text("loop", c.best_loop) + "; best " + crossover_text("call", c.best_call) + n;
  text += "fixed rule / best FFT, loop:";
  for (std::size_t k = 0; k < rows.size(); ++k) {
    text += std::string(k == 0 ? " " : ", ") + "M = " + std::to_string(rows[k].taps) + ": " +
            ratio_text(rows[k].fft_min_ms / rows[k].fft_best_min_ms);
  }
  return text + "\n";
}

std::string verdict_text(const SweepRow& row, TimeKind kind) {
  const bool loop = kind == TimeKind::loop;
  struct Method {
    std::string name;
    double min, median;
  } methods[] = {
      {"direct", loop ? row.direct_min_ms : row.direct_call_min_ms,
       loop ? row.direct_median_ms : row.direct_call_median_ms},
      {"FFT with fir_bench's rule (K = " + std::to_string(2 * row.block) + ")",
       loop ? row.fft_min_ms : row.fft_call_min_ms, loop ? row.fft_median_ms : row.fft_call_median_ms},
      {loop ? "FFT with K = " + std::to_string(row.fft_best_length) + " (blocks of " +
                  std::to_string(row.fft_best_block) + ")"
            : "FFT with K = " + std::to_string(row.fft_best_call_length) + " (blocks of " +
                  std::to_string(row.fft_best_call_length - row.taps + 1) + ")",
       loop ? row.fft_best_min_ms : row.fft_best_call_min_ms,
       loop ? row.fft_best_median_ms : row.fft_best_call_median_ms},
  };
  std::sort(std::begin(methods), std::end(methods), [](const Method& a, const Method& b) { return a.min < b.min; });
  // A method ties with the fastest where their minimums lie within the
  // spread (median - minimum) of either, as the table's bands of ties do.
  const auto ties = [&](const Method& m) {
    return m.min - methods[0].min <= std::max(methods[0].median - methods[0].min, m.median - m.min);
  };
  const std::string by = std::string(loop ? "by the loop" : "by the whole call") + ": ";
  const auto faster = [&](const Method& slower) {
    return ratio_text(slower.min / methods[0].min) + "x as fast as " + slower.name;
  };
  if (ties(methods[2])) {
    return by + "a tie between " + methods[0].name + ", " + methods[1].name + " and " + methods[2].name +
           " (within the spread of their runs)";
  }
  if (ties(methods[1])) {
    return by + "a tie between " + methods[0].name + " and " + methods[1].name + " (" +
           ratio_text(methods[1].min / methods[0].min) + "x apart, within the spread of their runs), both about " +
           faster(methods[2]);
  }
  return by + methods[0].name + " is fastest, " + faster(methods[1]) + " and " + faster(methods[2]);
}
