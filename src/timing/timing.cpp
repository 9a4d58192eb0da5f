#include "timing/timing.h"

#include "platform/platform.h"
#include "timing/timing_internal.h"

Stopwatch stopwatch{};

double interval_ms(std::int64_t elapsed_ticks, std::int64_t frequency) {
  const float ef = static_cast<float>(elapsed_ticks);
  const float ff = static_cast<float>(frequency);
  return (static_cast<double>(ef) * 1000.0) / static_cast<double>(ff);
}

void stopwatch_start_at(Stopwatch& record, std::int64_t frequency, std::int64_t now) {
  record.frequency = frequency;
  record.average_ms = 0.0;
  record.total_ms = 0.0;
  record.runs = 0.0;
  record.start_count = now;
}

void stopwatch_stop_at(Stopwatch& record, std::int64_t now) {
  record.stop_count = now;
  record.total_ms = record.total_ms + interval_ms(record.stop_count - record.start_count, record.frequency);
  record.runs = record.runs + 1.0;
  record.average_ms = record.total_ms / record.runs;
}

void stopwatch_start() {
  stopwatch_start_at(stopwatch, counter_frequency(), 0);
  stopwatch.start_count = counter_ticks();  // last, so the set-up stays untimed
}

void stopwatch_stop() { stopwatch_stop_at(stopwatch, counter_ticks()); }
