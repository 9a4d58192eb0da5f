// The reader's seams for its tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "signal/signal.h"
#include "signal_io/signal_io.h"

// The reader's chunk size.
inline constexpr std::size_t load_chunk_bytes = 64 * 1024;

// The reader on a stream that is already open (`file_name` only names it in
// messages), with load_signal's results, reading chunks of `chunk_bytes`. A
// file holding more than `max_values` values, counting those `signal` held
// before, is refused with too_long. Tests lower the limit (no test can make
// a file of four billion values), and the fuzzer the chunk size (to cross
// chunks far more often). `report`, when given, gets what reading found.
Status load_signal_stream(std::FILE* file, std::string_view file_name, Signal& signal, std::size_t max_values,
                          std::size_t chunk_bytes = load_chunk_bytes, LoadReport* report = nullptr);
