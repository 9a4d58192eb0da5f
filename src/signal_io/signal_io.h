// Signal text files: one decimal number per line, read and written in the
// classic "C" number format whatever locale the process has selected.
//
// Both operations print their own failure message on the console (a line
// end, the message, the file name, a line end) and return 0 or -1.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "signal/signal.h"

// Appends the numbers in `file_name` to `signal`, keeping what it held.
// Numbers are separated by any whitespace; a number is an optional sign,
// digits with at most one '.', and an optional exponent (e or E, optional
// sign, digits). Reading stops at the end of the file or at the first token
// that is not such a number or is too large for a double; the values before
// it are kept, a warning naming the line and the token is printed, and the
// result is still 0. Values too small for a double round to a subnormal or 0.
// Returns -1, with `signal` unchanged, when the file cannot be opened or read,
// and load_out_of_memory, with `signal` unchanged and nothing printed, when
// memory runs out while reading (the caller names it).
int load_signal(std::string_view file_name, Signal& signal);
inline constexpr int load_out_of_memory = -2;

// Writes `signal` to `file_name`, one value per line, each line ended by CR LF
// and flushed to the operating system on its own (one write call per line),
// so an interrupted run leaves only complete lines. An empty signal gives an
// empty file. Returns -1 when the file cannot be created, or when a write or
// the close fails (writing stops at the first failed line).
int save_signal(std::string_view file_name, const Signal& signal);

// The text of one value as the writer formats it: %g with six significant
// digits and an exponent of exactly three digits (1e-005, 1.23457e+006).
// Zero of either sign is "0"; the non-finite values are "inf", "-inf", "nan".
struct ValueText {
  std::array<char, 24> bytes;
  std::size_t size;
  std::string_view view() const { return {bytes.data(), size}; }
};
ValueText format_value(double value);

// The reader's chunk size; exposed so tests can place tokens across it.
inline constexpr std::size_t load_chunk_bytes = 64 * 1024;
