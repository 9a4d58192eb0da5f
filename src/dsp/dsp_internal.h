// Inside the dsp module, and for its tests: the direct stage's length
// arithmetic, checked at a 32-bit system's limits.
#pragma once

#include <cstdint>

#include "signal/signal.h"
#include "signal/status.h"

namespace dsp_internal {

// The direct result's length for `samples` and `taps`: N + M - 1, or 0 when
// N = M = 0. Returns too_long, with `length` 0, when it exceeds
// signal_capacity(addressable).
Status direct_length(std::uint64_t samples, std::uint64_t taps, std::uint64_t& length,
                     std::uint64_t addressable = addressable_bytes);

}  // namespace dsp_internal
