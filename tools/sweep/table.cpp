// The table's text: provenance, header and rows, numbers written
// locale-independently.

#include "sweep/sweep.h"

#include <charconv>
#include <string>

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

}  // namespace

std::string crossover_line(const std::optional<Crossover>& loop, const std::optional<Crossover>& call,
                           std::size_t samples) {
  return "# " + crossover_text("loop", loop) + "; " + crossover_text("call", call) +
         " (N = " + std::to_string(samples) + ")\n";
}
