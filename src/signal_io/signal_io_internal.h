// What the reader's sources share, and its seams for its tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "signal/signal.h"
#include "signal_io/signal_io.h"

namespace signal_io_detail {

inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

enum class Parsed { value, not_a_number, out_of_range };

// One number at `begin` of a chunk that ends at `end`. One pass:
// std::from_chars finds the number and its end together. What it accepts
// after the checks in tokens.cpp is exactly the grammar: an optional sign
// ('+' is skipped for it), digits with at most one '.', at least one digit,
// and an exponent that from_chars takes only when it has digits. A number
// that may go on past the chunk's end is parsed again once the next chunk
// has been read in behind it.
struct InChunk {
  Parsed parsed;
  double value;
  const char* end;        // where the number stops; the next token starts here
  bool needs_next_chunk;  // the number may continue past the chunk's end
};
InChunk parse_in_chunk(const char* begin, const char* end, bool last_chunk);

}  // namespace signal_io_detail

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
