// One whole test run, from selecting the locale to the final wait.
#pragma once

// Reads "input.txt" and "fir.txt" from the working directory, reports on the
// console and in "log.txt", writes the result files, waits for one character
// on standard input. Returns the process exit code: 0 on every designed
// path, 1 when a stage cannot run (a length too large for its count, no
// memory or no plan from FFTW).
int run_test_bench();
