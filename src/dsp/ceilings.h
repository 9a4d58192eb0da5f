// What the benchmarks set the direct stage against: the multiply-add rates
// the processor reaches with each instruction set the stages are built for.
// Not used by the stages themselves.
#pragma once

#include <cstdint>
#include <span>

struct Ceilings {
  const char* name;      // as the kernel table names the set
  bool (*supported)();   // this processor has the set
  int lanes;             // doubles per vector
  // `iterations` rounds of 12 vector multiply-adds each, counted as one per
  // lane: the peak, 12 multiplies and 12 adds on separate chains; the
  // bound, each product of a vector loaded from memory added into its
  // chain, as the direct stage does. Each returns a value to keep.
  double (*peak)(std::int64_t iterations);
  double (*bound)(std::int64_t iterations);
};

// One row per instruction set, best first.
std::span<const Ceilings> multiply_add_ceilings();
