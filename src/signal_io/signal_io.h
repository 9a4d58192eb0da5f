// Signal text files: one decimal number per line, read and written in the
// classic "C" number format whatever locale the process has selected.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "files/files.h"
#include "signal/signal.h"
#include "signal/status.h"

// What loading a file found besides its values: the file that was read
// (outputs are compared with it, never with what the name reaches later),
// how many values it held, where a token ended reading before the end of
// the file, and whether its lines look like columns.
struct LoadReport {
  FileIdentity file{};
  std::size_t values = 0;        // appended by this load
  bool stopped_early = false;    // a token ended reading before the end of the file
  std::uint64_t stop_line = 0;   // the token's line
  std::string stop_token;        // its first characters, control bytes shown as '?'
  bool byte_order_mark = false;  // the token is the UTF-8 byte-order mark the file starts with
  std::size_t per_line = 0;      // two or more lines each held this many values (two or more); 0 otherwise
};

// Appends the numbers in `file_name` to `signal` (reader.cpp has the
// grammar); a token that is not a number ends reading, still ok. Returns,
// with `signal` unchanged: file_error (-1) or too_long after printing its
// failure line, out_of_memory with nothing printed. Alone, it prints its
// warnings at once; with a report, it leaves them to print_load_warnings.
Status load_signal(std::string_view file_name, Signal& signal);
Status load_signal(std::string_view file_name, Signal& signal, LoadReport& report);

// What a file is meant to hold, for the warning about one that holds none.
enum class Holds { values, samples, taps };

// The warnings of a load, each a whole line on the console: the token that
// ended reading (or the byte-order mark named as one), a file that holds
// no samples or taps, lines that look like columns.
void print_load_warnings(std::string_view file_name, const LoadReport& report, Holds holds);

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
