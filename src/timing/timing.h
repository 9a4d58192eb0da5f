// The process-wide stopwatch over the platform's tick counter, in
// milliseconds. Each timed stage calls stopwatch_start after its preparation
// and stopwatch_stop right after its last loop, then the caller reads
// stopwatch.average_ms.
#pragma once

#include <cstdint>

struct Stopwatch {
  double total_ms;           // sum of the intervals since the last start
  double average_ms;         // total_ms / runs after the last stop
  std::int64_t stop_count;   // counter value at the last stop
  std::int64_t start_count;  // counter value at the last start
  double runs;               // stops since the last start, counted in floating point
  std::int64_t frequency;    // counter ticks per second, taken at each start
};

// The one record of the process; every field is zero at program start.
extern Stopwatch stopwatch;

// Takes the counter rate, clears the sums, then reads the counter last, so
// that the other work stays outside the measured interval.
void stopwatch_start();

// Reads the counter first, then adds one interval and recomputes average_ms.
// Requires a preceding stopwatch_start.
void stopwatch_stop();
