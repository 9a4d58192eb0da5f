#include "timing/timing_internal.h"

#include <gtest/gtest.h>

#include "platform/platform.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

TEST(StopwatchArithmetic, TenMegahertzExample) {
  Stopwatch record{};
  stopwatch_start_at(record, 10'000'000, 500);
  stopwatch_stop_at(record, 500 + 12'345);
  EXPECT_EQ(record.stop_count, 12'845);
  EXPECT_EQ(record.runs, 1.0);
  EXPECT_EQ(record.total_ms, 1.2345);
  EXPECT_EQ(record.average_ms, 1.2345);
}

TEST(StopwatchArithmetic, TickCountsRoundToSinglePrecision) {
  // 2^24 + 1 ticks is not a float; it counts as 2^24.
  EXPECT_EQ(interval_ms(16'777'217, 1'000), interval_ms(16'777'216, 1'000));
  EXPECT_EQ(interval_ms(16'777'217, 1'000), 16'777'216.0);
  // The frequency rounds the same way: 2^24 + 1 ticks per second is 2^24.
  EXPECT_EQ(interval_ms(1, 16'777'217), 1000.0 / 16'777'216.0);
  // Below 2^24 nothing is lost.
  EXPECT_EQ(interval_ms(16'777'215, 1'000), 16'777'215.0);
}

// The product is formed first, then the quotient: 5000 / 3 rounds to
// 0x1.a0aaaaaaaaaabp+10, while 5 * (1000 / 3) gives the double below it.
TEST(StopwatchArithmetic, ProductIsFormedBeforeTheQuotient) {
  EXPECT_EQ(interval_ms(5, 3), 0x1.a0aaaaaaaaaabp+10);
}

TEST(StopwatchArithmetic, StopWithoutAdvanceIsZero) {
  Stopwatch record{};
  stopwatch_start_at(record, 10'000'000, 42);
  stopwatch_stop_at(record, 42);
  EXPECT_EQ(record.total_ms, 0.0);
  EXPECT_EQ(record.runs, 1.0);
  EXPECT_EQ(record.average_ms, 0.0);
}

TEST(StopwatchArithmetic, TwoStopsAverageTwoIntervalsFromOneStart) {
  Stopwatch record{};
  stopwatch_start_at(record, 1'000, 0);
  stopwatch_stop_at(record, 2);  // 2 ms
  stopwatch_stop_at(record, 6);  // 6 ms, measured from the same start
  EXPECT_EQ(record.runs, 2.0);
  EXPECT_EQ(record.total_ms, 8.0);
  EXPECT_EQ(record.average_ms, 4.0);
}

// A new start forgets the earlier intervals: the next stop's average is its
// own interval, measured from the new start at the new rate.
TEST(StopwatchArithmetic, SecondStartForgetsEarlierIntervals) {
  Stopwatch record{};
  stopwatch_start_at(record, 1'000, 0);
  stopwatch_stop_at(record, 5);
  stopwatch_start_at(record, 2'000, 100);
  EXPECT_EQ(record.average_ms, 0.0);
  stopwatch_stop_at(record, 104);
  EXPECT_EQ(record.average_ms, 2.0);
  EXPECT_EQ(record.runs, 1.0);
}

TEST(StopwatchClock, StartThenStopMeasuresOneNonNegativeInterval) {
  stopwatch_start();
  stopwatch_stop();
  EXPECT_EQ(stopwatch.frequency, counter_frequency());
  EXPECT_EQ(stopwatch.runs, 1.0);
  EXPECT_GE(stopwatch.average_ms, 0.0);
  EXPECT_GE(stopwatch.stop_count, stopwatch.start_count);
}

TEST(StopwatchClock, CounterIsMonotonic) {
  std::int64_t previous = counter_ticks();
  for (int i = 0; i < 1000; ++i) {
    const std::int64_t now = counter_ticks();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

#if defined(_WIN32)
// On Windows the counter is QueryPerformanceCounter itself.
TEST(StopwatchClock, UsesThePerformanceCounterFrequency) {
  LARGE_INTEGER frequency;
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(counter_frequency(), frequency.QuadPart);
  stopwatch_start();
  stopwatch_stop();
  EXPECT_EQ(stopwatch.frequency, frequency.QuadPart);
  EXPECT_GE(stopwatch.average_ms, 0.0);
}
#endif

}  // namespace
