// Signal text files: one decimal number per line, read and written in the
// classic "C" number format whatever locale the process has selected.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "signal/signal.h"
#include "signal/status.h"

// Appends the numbers in `file_name` to `signal`, keeping what it held.
// Numbers are separated by any whitespace; a number is an optional sign,
// digits with at most one '.', and an optional exponent (e or E, optional
// sign, digits). Reading stops at the end of the file or at the first token
// that is not such a number or is too large for a double; the values before
// it are kept, a warning naming the line and the token is printed on the
// console, and the result is still ok. Values too small for a double round
// to a subnormal or 0.
// Returns, with `signal` unchanged: file_error (-1) when the file cannot be
// opened or read, too_long when it holds more values than a Signal counts,
// each after printing its failure line (a line end, the message, the file
// name, a line end); out_of_memory, with nothing printed, when memory runs
// out while reading (the caller names it).
Status load_signal(std::string_view file_name, Signal& signal);

// Writes `signal` to `file_name`, one value per line, each line ended by CR LF
// and flushed to the operating system on its own (one write call per line),
// so an interrupted run leaves only complete lines. An empty signal gives an
// empty file. Returns file_error, printing nothing (the caller reports it),
// when the file cannot be created, or when a write or the close fails. A
// write that fails (a full disk, a file-size limit) ends the file: it is cut
// back to the end of its last complete line, so it holds whole lines, the
// start of the signal, and nothing more is written to it.
Status save_signal(std::string_view file_name, const Signal& signal);

// The text of one value as the writer formats it: %g with six significant
// digits and an exponent of exactly three digits (1e-005, 1.23457e+006).
// Zero of either sign is "0"; the non-finite values are "inf", "-inf", "nan".
struct ValueText {
  std::array<char, 24> bytes;
  std::size_t size;
  std::string_view view() const { return {bytes.data(), size}; }
};
ValueText format_value(double value);
