#include "dsp/dsp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dsp/dsp_internal.h"
#include "dsp/kernels.h"
#include "timing/timing.h"

namespace {

// The plain loop, for i, for j: y[i+j] = h[j]*x[i] + y[i+j], for taps the
// kernels cannot take: an infinite or NaN tap would turn the zeros the
// kernels pad with into NaNs.
void accumulate_plain(const Signal& x, const Signal& h, Signal& y) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] = h[j] * x[i] + y[i + j];
  }
}

// 64-byte aligned start inside `storage`, which holds 8 more than needed.
double* aligned(Signal& storage) {
  constexpr std::uintptr_t alignment = 64;
  auto address = reinterpret_cast<std::uintptr_t>(storage.data());
  address = (address + alignment - 1) / alignment * alignment;
  return reinterpret_cast<double*>(address);
}

}  // namespace

Status dsp_internal::direct_length(std::uint64_t samples, std::uint64_t taps, std::uint64_t& length,
                                   std::uint64_t addressable) {
  length = 0;
  const std::uint64_t most = signal_capacity(addressable);
  if (samples > most || taps > most || samples + taps > most + 1) return Status::too_long;
  if (samples + taps != 0) length = samples + taps - 1;
  return Status::ok;
}

// On the fastest vector instructions the processor has (kernels.cpp), in
// the layouts of direct_kernel.h. y and the kernels' scratch are allocated
// before the stopwatch starts.
Status convolve_direct(const Signal& x, const Signal& h, Signal& y) {
  std::uint64_t length = 0;
  if (dsp_internal::direct_length(x.size(), h.size(), length) != Status::ok) {
    y.clear();
    return Status::too_long;
  }
  const bool finite = std::all_of(h.begin(), h.end(), [](double v) { return std::isfinite(v); });
  const bool blocked = finite && !x.empty() && !h.empty();
  const Kernels& kernels = active_kernels();
  Signal scratch;
  const Status allocated = allocating([&] {
    y.assign(static_cast<std::size_t>(length), 0.0);
    if (blocked) scratch.resize(kernels.scratch_doubles + 8);
  });
  if (allocated != Status::ok) {
    y.clear();
    return allocated;
  }
  const DirectOperands operands{x.data(), static_cast<std::ptrdiff_t>(x.size()),
                                              h.data(), static_cast<std::ptrdiff_t>(h.size()),
                                              y.data(), static_cast<std::ptrdiff_t>(length)};

  stopwatch_start();
  if (blocked) {
    kernels.accumulate(operands, aligned(scratch));
  } else {
    accumulate_plain(x, h, y);
  }
  stopwatch_stop();
  return Status::ok;
}
