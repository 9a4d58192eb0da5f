// Times the steps of a run on "input.txt" and "fir.txt" in the working
// directory, best of a few repetitions, and prints one "name seconds" line
// per step: the counterpart of the numpy pipeline in compare_numpy.py.
//
//   stage_times [repetitions]
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "whole_run.h"

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::atoi(argv[1]) : 3;
  RunTimes best = time_whole_run(std::filesystem::current_path());
  for (int k = 1; k < repetitions; ++k) best = fastest(best, time_whole_run(std::filesystem::current_path()));
  const struct {
    const char* name;
    double seconds;
  } lines[] = {
      {"read_input", best.read_input},   {"read_fir", best.read_fir},         {"direct", best.direct},
      {"overlap_add", best.overlap_add}, {"compare", best.compare},           {"write_linear", best.write_linear},
      {"write_fft", best.write_fft},     {"write_diff", best.write_diff},
  };
  for (const auto& line : lines) std::printf("%s %.9f\n", line.name, line.seconds);
  return 0;
}
