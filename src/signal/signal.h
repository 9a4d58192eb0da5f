// The one sample container of the program: a signal, a set of filter taps,
// a result or a difference are all a Signal.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// A growable array of IEEE 754 doubles, indexed from 0.
using Signal = std::vector<double>;

// Lengths are reported as unsigned 32-bit counts; a Signal never holds more.
inline constexpr std::uint64_t signal_max_length = std::numeric_limits<std::uint32_t>::max();

// The most bytes one block of memory can span here: a container's size in
// bytes must fit a ptrdiff_t, 2^63 - 1 on 64-bit systems, 2^31 - 1 on
// 32-bit ones.
inline constexpr std::uint64_t addressable_bytes = std::numeric_limits<std::ptrdiff_t>::max();

// The most values a Signal can hold where one block spans at most
// `addressable` bytes: the 32-bit count, or fewer (2^28 - 1 on a 32-bit
// system).
constexpr std::uint64_t signal_capacity(std::uint64_t addressable) {
  return std::min(signal_max_length, addressable / sizeof(double));
}
