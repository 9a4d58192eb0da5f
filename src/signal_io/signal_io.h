// Signal text files: one decimal number per line, read and written in the
// classic "C" number format whatever locale the process has selected.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "files/files.h"
#include "signal/signal.h"
#include "signal/status.h"

// What loading a file found besides its values: the file that was read
// (outputs are compared with it, never with what the name reaches later)
// and whether a token ended reading before the end of the file.
struct LoadReport {
  FileIdentity file{};
  bool stopped_early = false;
};

// Appends the numbers in `file_name` to `signal`; a token that is not a
// number ends reading with a warning, still ok (reader.cpp has the grammar).
// Returns, with `signal` unchanged: file_error (-1) or too_long after
// printing its failure line, out_of_memory with nothing printed.
Status load_signal(std::string_view file_name, Signal& signal);
Status load_signal(std::string_view file_name, Signal& signal, LoadReport& report);

// Writes `signal` to `file_name`, one value per line ended by CR LF, each line
// handed to the system on its own. Returns file_error, printing nothing,
// when the file cannot be created or a write or the close fails; the file
// then holds whole lines only. The file is opened as files.h opens an
// output: never through a link that leads nowhere.
Status save_signal(std::string_view file_name, const Signal& signal);

// The same into an output that files.h's open_outputs let through: emptied,
// written and closed; on file_error the output says why.
Status save_signal(OutputFile& file, const Signal& signal);

// The same lines written into an open output after what it holds;
// file_error when a write fails (the output says why, and holds whole lines
// only). The caller closes it.
Status write_signal(OutputFile& file, const Signal& signal);

// The text of one value as the writer formats it: %g with six significant
// digits and an exponent of exactly three digits (1e-005, 1.23457e+006).
// Zero of either sign is "0"; the non-finite values are "inf", "-inf", "nan".
struct ValueText {
  std::array<char, 24> bytes;
  std::size_t size;
  std::string_view view() const { return {bytes.data(), size}; }
};
ValueText format_value(double value);
