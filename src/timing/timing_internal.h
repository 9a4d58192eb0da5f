// The stopwatch's arithmetic on a given record and given counter values,
// for timing.cpp and its tests.
#pragma once

#include <cstdint>

#include "timing/timing.h"

void stopwatch_start_at(Stopwatch& record, std::int64_t frequency, std::int64_t now);
void stopwatch_stop_at(Stopwatch& record, std::int64_t now);

// (ef * 1000.0) / ff with both tick counts first rounded to single precision:
// counts above 2^24 keep 24 significant bits.
double interval_ms(std::int64_t elapsed_ticks, std::int64_t frequency);
