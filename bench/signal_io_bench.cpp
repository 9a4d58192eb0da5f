// Throughput of the signal text files: the reader on a million values in the
// writer's own format and in full precision ("%.17g"), beside from_chars on
// the same tokens already split; the writer beside one bare write call per
// pre-formatted line, which is the floor set by flushing every line.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "bench_support.h"
#include "measure/measure.h"
#include "signal_io/signal_io.h"
#include "support/random_values.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t value_count = 1'000'000;

Signal random_signal(std::size_t count) {
  std::mt19937_64 generator(42);
  Signal signal(count);
  for (double& value : signal) value = test_support::random_magnitude(generator, -6.0, 6.0);  // 1e-6 .. 1e6
  return signal;
}

// The files the benchmarks write, in a folder of their own.
std::string bench_path(const char* name) {
  static ScratchFolder scratch;
  return scratch.file(name);
}

std::string full_precision_text(const Signal& signal) {
  std::string text;
  char buffer[40];
  for (const double value : signal) {
    const int length = std::snprintf(buffer, sizeof buffer, "%.17g\r\n", value);
    text.append(buffer, static_cast<std::size_t>(length));
  }
  return text;
}

struct Files {
  std::string six_digits = bench_path("fir_bench_six_digits.txt");
  std::string full_precision = bench_path("fir_bench_full_precision.txt");
  std::string full_precision_bytes;
  Files() {
    const Signal signal = random_signal(value_count);
    full_precision_bytes = full_precision_text(signal);
    std::FILE* file = std::fopen(full_precision.c_str(), "wb");
    const bool written = file != nullptr &&
                         std::fwrite(full_precision_bytes.data(), 1, full_precision_bytes.size(), file) ==
                             full_precision_bytes.size();
    if (save_signal(six_digits, signal) != Status::ok || file == nullptr || std::fclose(file) != 0 || !written) {
      std::fprintf(stderr, "signal_io_bench: cannot write its files\n");
      std::exit(1);
    }
  }
};

const Files& files() {
  static const Files instance;
  return instance;
}

void report_read(benchmark::State& state, const std::string& path) {
  std::error_code error;
  const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(path, error));
  state.SetBytesProcessed(bytes * state.iterations());
  state.SetItemsProcessed(static_cast<std::int64_t>(value_count) * state.iterations());
}

void load(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    Signal signal;
    load_signal(path, signal);
    benchmark::DoNotOptimize(signal.data());
  }
  report_read(state, path);
}

void BM_LoadSixDigits(benchmark::State& state) { load(state, files().six_digits); }
void BM_LoadFullPrecision(benchmark::State& state) { load(state, files().full_precision); }

// The parse alone: from_chars on the full-precision tokens, split beforehand.
void BM_FromCharsPreSplit(benchmark::State& state) {
  const std::string& text = files().full_precision_bytes;
  std::vector<std::pair<const char*, const char*>> tokens;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\r', at);
    tokens.emplace_back(text.data() + at, text.data() + end);
    at = end + 2;
  }
  for (auto _ : state) {
    double sum = 0.0;
    for (const auto& [first, last] : tokens) {
      double value;
      std::from_chars(first, last, value);
      sum += value;
    }
    benchmark::DoNotOptimize(sum);
  }
  report_read(state, files().full_precision);
}

constexpr std::size_t written_count = 100'000;

// Write system calls this process has made so far, from /proc/self/io
// (Linux); -1 where that is not available.
double write_calls_so_far() {
  std::FILE* io = std::fopen("/proc/self/io", "r");
  if (io == nullptr) return -1;
  char key[32];
  unsigned long long value = 0;
  double calls = -1;
  while (std::fscanf(io, "%31s %llu", key, &value) == 2) {
    if (std::string(key) == "syscw:") calls = static_cast<double>(value);
  }
  std::fclose(io);
  return calls;
}

#if !defined(_WIN32)
// The floor of a writer that flushes every line: one write call per value
// of the same pre-formatted bytes. Seconds per pass over `lines`.
double bare_write_seconds(const std::vector<std::string>& lines, const std::string& path) {
  return measure::seconds_of([&] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (const std::string& line : lines) benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
  });
}

std::vector<std::string> written_lines() {
  std::vector<std::string> lines;
  for (const double value : random_signal(written_count)) {
    lines.push_back(std::string(format_value(value).view()) + "\r\n");
  }
  return lines;
}

#endif

// The writer, with its write calls per value and its time per pass beside
// the bare loop's (x_bare_write, best passes of each, taken alternately).
void BM_SaveSignal(benchmark::State& state) {
  const Signal signal = random_signal(written_count);
  const std::string path = bench_path("fir_bench_written.txt");
  const auto save_seconds = [&] { return measure::seconds_of([&] { save_signal(path, signal); }); };
  const double calls_before = write_calls_so_far();
  std::vector<double> saves;
  for (auto _ : state) saves.push_back(save_seconds());
  const double calls = write_calls_so_far() - calls_before;
  state.SetItemsProcessed(static_cast<std::int64_t>(written_count) * state.iterations());
  if (calls_before >= 0) {
    state.counters["writes_per_value"] = calls / (static_cast<double>(written_count) * static_cast<double>(state.iterations()));
  }
#if !defined(_WIN32)
  const std::vector<std::string> lines = written_lines();
  std::vector<double> bare;
  for (int pass = 0; pass < 10; ++pass) {
    bare.push_back(bare_write_seconds(lines, bench_path("fir_bench_bare.txt")));
    saves.push_back(save_seconds());
  }
  state.counters["x_bare_write"] = measure::minimum(saves) / measure::minimum(bare);
#endif
}

#if !defined(_WIN32)
void BM_BareWritePerLine(benchmark::State& state) {
  const std::vector<std::string> lines = written_lines();
  const std::string path = bench_path("fir_bench_bare.txt");
  for (auto _ : state) bare_write_seconds(lines, path);
  state.SetItemsProcessed(static_cast<std::int64_t>(written_count) * state.iterations());
}
BENCHMARK(BM_BareWritePerLine)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_LoadSixDigits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadFullPrecision)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FromCharsPreSplit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveSignal)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
