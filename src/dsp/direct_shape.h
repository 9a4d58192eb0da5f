// What the direct stage's layouts need to know of an instruction set: its
// vector width and how many vectors of sums each layout keeps in one
// register group. Each row of the kernel table states its own (kernels.cpp).
#pragma once

#include <cstddef>

namespace dsp_internal {

struct DirectShape {
  int lanes;             // W: doubles per vector, a power of two
  int copies_group;      // shifted copies: vectors of sums per group
  int segments_group;    // segments: vectors of sums per group (their windows take as many
                         // registers); 0: never the segments
  int windows_group;     // tap windows: vectors of sums per group
  int windows_max_taps;  // tap windows take filters up to this long; 0: never
};

// Taps per tap tile, for both layouts: a tile's part of the signal, W
// times over, stays within the second-level cache.
constexpr std::ptrdiff_t tile_taps = 512;

}  // namespace dsp_internal
