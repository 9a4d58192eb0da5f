// One whole test run, from selecting the locale to the final wait.
#pragma once

// Reads "input.txt" and "fir.txt" from the working directory, reports on the
// console and in "log.txt", writes the result files, waits for one character
// on standard input. Returns the process exit code: 0 for a complete run and
// after a file that cannot be loaded, also when the console has gone away;
// 1 when the run cannot go on (memory runs out, a length is too large for
// its count, FFTW makes no plan, another run holds "log.txt"), after saying
// so on the console; 2 when a result file could not be written completely,
// after naming it on the console and in the log.
int run_test_bench();
