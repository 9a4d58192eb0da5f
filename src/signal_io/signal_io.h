// Signal text files: one decimal number per line, read and written in the
// classic "C" number format whatever locale the process has selected.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "files/files.h"
#include "signal/signal.h"
#include "signal/status.h"

// Appends the numbers in `file_name` to `signal`; a token that is not a
// number ends reading with a warning, still ok (reader.cpp has the grammar).
// Returns, with `signal` unchanged: file_error (-1) or too_long after
// printing its failure line, out_of_memory with nothing printed.
Status load_signal(std::string_view file_name, Signal& signal);

// load_signal, also saying whether a token ended reading before the end of
// the file (its warning printed), for a caller that refuses such a file.
Status load_signal(std::string_view file_name, Signal& signal, bool& stopped_early);

// Writes `signal` to `file_name`, one value per line ended by CR LF, each line
// handed to the system on its own. Returns file_error, printing nothing,
// when the file cannot be created or a write or the close fails; the file
// then holds whole lines only. The file is opened as files.h opens an
// output: never through a link that leads nowhere.
Status save_signal(std::string_view file_name, const Signal& signal);

// The same into an output that files.h's open_outputs let through: emptied,
// written and closed.
Status save_signal(const OutputFile& file, const Signal& signal);

// The same lines written to an open output file (platform.h's handle),
// after what it holds; file_error when a write fails, the file then cut
// back to its last whole line. The caller closes it.
Status write_signal(int file, const Signal& signal);

// The text of one value as the writer formats it: %g with six significant
// digits and an exponent of exactly three digits (1e-005, 1.23457e+006).
// Zero of either sign is "0"; the non-finite values are "inf", "-inf", "nan".
struct ValueText {
  std::array<char, 24> bytes;
  std::size_t size;
  std::string_view view() const { return {bytes.data(), size}; }
};
ValueText format_value(double value);
