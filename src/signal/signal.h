// The one sample container of the program: a signal, a set of filter taps,
// a result or a difference are all a Signal.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

// A growable array of IEEE 754 doubles, indexed from 0.
using Signal = std::vector<double>;

// Lengths are reported as unsigned 32-bit counts; a Signal never holds more.
inline constexpr std::uint64_t signal_max_length = std::numeric_limits<std::uint32_t>::max();
