// Shared by the reader and the writer of signal files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "platform/platform.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"

// The signal files' failure line: a line end first (it completes whatever
// the console line holds), the message, the file name, a line end.
inline void print_file_failure(std::string_view message, std::string_view file_name) {
  console_end_line();
  console_write(message);
  console_write(file_name);
  console_end_line();
}

// The reader on a stream that is already open (`file_name` only names it in
// messages), with load_signal's results. A file holding more than
// `max_values` values, counting those `signal` held before, returns -1 with
// `signal` unchanged; load_signal passes signal_capacity(). The file is read in chunks of `chunk_bytes`.
// Exposed for tests and the fuzzer, which cannot make files of four billion
// values and reach the chunk-crossing path far more often with tiny chunks.
int load_signal_stream(std::FILE* file, std::string_view file_name, Signal& signal, std::size_t max_values,
                       std::size_t chunk_bytes = load_chunk_bytes);
