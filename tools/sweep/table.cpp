// fir_sweep's texts: its problems, and the table's provenance, header and
// rows, numbers written locale-independently.

#include "sweep/sweep.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

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

std::string sweep_header(bool measured) {
  return std::string("taps\tblock\tdirect_min_ms\tdirect_median_ms\tfft_min_ms\tfft_median_ms\tdirect_call_min_ms\t"
                     "direct_call_median_ms\tfft_call_min_ms\tfft_call_median_ms\trms\tmax_abs\tdirect_error\t"
                     "fft_error\tfft_best_len\tfft_best_block\tfft_best_min_ms\tfft_best_median_ms\t"
                     "fft_best_error\tfft_best_call_len\tfft_best_call_min_ms\tfft_best_call_median_ms\t") +
         (measured ? "fft_measure_len\tfft_measure_min_ms\tfft_measure_plan_ms\t" : "") + "error_outputs\n";
}

std::string sweep_row_text(const SweepRow& row, bool measured) {
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
  for (const std::size_t count : {row.fft_best_length, row.fft_best_block}) {
    line += '\t';
    append_count(line, count);
  }
  for (const double value : {row.fft_best_min_ms, row.fft_best_median_ms, row.fft_best_error}) {
    line += '\t';
    append_number(line, value);
  }
  line += '\t';
  append_count(line, row.fft_best_call_length);
  for (const double value : {row.fft_best_call_min_ms, row.fft_best_call_median_ms}) {
    line += '\t';
    append_number(line, value);
  }
  if (measured) {
    line += '\t';
    append_count(line, row.fft_measure_length);
    for (const double value : {row.fft_measure_min_ms, row.fft_measure_plan_ms}) {
      line += '\t';
      append_number(line, value);
    }
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

std::string crossover_lines(const Crossovers& c, const std::vector<SweepRow>& rows, std::size_t samples) {
  const std::string n = " (N = " + std::to_string(samples) + ")\n";
  std::string text = "# " + crossover_text("loop", c.loop) + "; " + crossover_text("call", c.call) + n;
  text += "# best " + crossover_text("loop", c.best_loop) + "; best " + crossover_text("call", c.best_call) + n;
  text += "# fixed rule / best FFT, loop:";
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
    double ms;
  } methods[] = {
      {"direct", loop ? row.direct_min_ms : row.direct_call_min_ms},
      {"FFT with fir_bench's rule (L = " + std::to_string(2 * row.block) + ")",
       loop ? row.fft_min_ms : row.fft_call_min_ms},
      {loop ? "FFT with L = " + std::to_string(row.fft_best_length) + " (blocks of " +
                  std::to_string(row.fft_best_block) + ")"
            : "FFT with L = " + std::to_string(row.fft_best_call_length) + " (blocks of " +
                  std::to_string(row.fft_best_call_length - row.taps + 1) + ")",
       loop ? row.fft_best_min_ms : row.fft_best_call_min_ms},
  };
  std::sort(std::begin(methods), std::end(methods), [](const Method& a, const Method& b) { return a.ms < b.ms; });
  return std::string(loop ? "by the loop" : "by the whole call") + ": " + methods[0].name + " is fastest, " +
         ratio_text(methods[1].ms / methods[0].ms) + "x as fast as " + methods[1].name + " and " +
         ratio_text(methods[2].ms / methods[0].ms) + "x as fast as " + methods[2].name;
}
