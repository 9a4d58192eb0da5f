// What the direct stage's layouts need to know of an instruction set: its
// vector width, how many vectors of sums each layout keeps in one register
// group, and so which layouts it takes (the table in direct_kernel.h). Each
// row of the kernel table states its own (kernels.cpp).
#pragma once

#include <cstddef>

namespace dsp_internal {

struct DirectShape {
  int lanes;             // W: doubles per vector, a power of two
  int copies_group;      // shifted copies: vectors of sums per group
  int segments_group;    // segments: vectors of sums per group (their spans take as many
                         // registers); 0: never the segments
  int windows_group;     // tap windows: vectors of sums per group; 0 with windows_max_taps 0
  int windows_max_taps;  // tap windows take filters up to this long; 0: never the tap windows
  int sliding_max_taps;  // sliding spans take filters up to this long; 0: never the sliding spans
};

// Taps per tap tile, for the copies and the segments: a tile's part of the signal, W
// times over, stays within the second-level cache.
constexpr std::ptrdiff_t tile_taps = 512;

}  // namespace dsp_internal
