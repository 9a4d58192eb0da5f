#include "signal_io/signal_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "files/files.h"
#include "messages/messages.h"
#include "platform/platform.h"
#include "signal_io/signal_io_internal.h"

using namespace signal_io_detail;

// The grammar: numbers separated by any whitespace; a number is an optional
// sign, digits with at most one '.', and an optional exponent (e or E,
// optional sign, digits). Reading stops at the end of the file or at the
// first token that is not such a number or is too large for a double; the
// values before it are kept and the report names the line and the token,
// for the warning that print_load_warnings prints.
// Values too small for a double round to a subnormal or 0. A failure line
// is a line end, the message, the file name and a line end; memory that
// runs out is left for the caller to name.

namespace {

// How much of a rejected token the warning shows.
constexpr std::size_t preview_length = 32;
// A UTF-8 byte-order mark, which some editors put at a file's start.
constexpr std::string_view utf8_mark = "\xEF\xBB\xBF";

// ---- Chunked input --------------------------------------------------------------

struct Input {
  std::FILE* file;
  std::size_t chunk_bytes;
  std::vector<char> buffer;  // a chunk, behind what a number cut by the last one carried over
  const char* pos = nullptr;
  const char* end = nullptr;
  bool last_chunk = false;  // nothing follows the current chunk
  bool read_error = false;
  std::uint64_t line = 1;
  bool after_cr = false;  // the last character read was a CR, which ended a line
};

// Replaces the chunk with the next one; false when no byte is left. With
// `keep`, the bytes from there to the chunk's end (a number the chunk's end
// cut) move to the front and the next chunk follows them. The buffer then
// grows only for a number longer than a chunk, at least doubling, so that a
// pathologically long number is read again only a few times.
bool refill(Input& in, const char* keep = nullptr) {
  if (in.last_chunk) return false;
  const std::size_t kept = keep != nullptr ? static_cast<std::size_t>(in.end - keep) : 0;
  if (kept > 0) std::memmove(in.buffer.data(), keep, kept);
  const std::size_t wanted = std::max(in.chunk_bytes, kept);
  if (in.buffer.size() < kept + wanted) in.buffer.resize(kept + wanted);
  const std::size_t got = std::fread(in.buffer.data() + kept, 1, wanted, in.file);
  if (got < wanted) {
    in.last_chunk = true;
    in.read_error = std::ferror(in.file) != 0;
  }
  in.pos = in.buffer.data();
  in.end = in.pos + kept + got;
  return got > 0;
}

// Skips whitespace, counting lines: CR, LF and CR LF each end one line.
// False at the end of the input.
bool skip_space(Input& in) {
  for (;;) {
    while (in.pos < in.end && is_space(*in.pos)) {
      const char c = *in.pos++;
      in.line += c == '\r' || (c == '\n' && !in.after_cr);
      in.after_cr = c == '\r';
    }
    if (in.pos < in.end) {
      in.after_cr = false;
      return true;
    }
    if (!refill(in)) return false;
  }
}

// The non-blank run at the read position, up to preview_length characters;
// control bytes show as '?'.
std::string token_preview(Input& in) {
  std::string preview;
  while (preview.size() < preview_length) {
    if (in.pos == in.end && !refill(in)) break;
    const char c = *in.pos++;
    if (is_space(c)) break;
    preview += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
  return preview;
}

enum class Outcome { end_of_file, rejected_token, read_error, too_many_values };

// The failure line for a file that cannot be loaded (a line end first, to
// complete whatever the console line holds, the message, the file name, a
// line end); returns `status`.
Status refused(Status status, std::string_view file_name) {
  console_end_line();
  console_write(messages::failure_message(status, messages::Step::load));
  console_write(file_name);
  console_end_line();
  return status;
}

// How many values each line holds, for the warning about a file of
// columns read as one sequence: `per_line` while every line with values so
// far has held the same count.
struct LineShape {
  std::uint64_t line = 0;  // of the last value
  std::size_t count = 0;   // values on it
  std::size_t per_line = 0, lines = 0;
  bool uniform = true;

  void add(std::uint64_t value_line) {
    if (value_line != line) end_line();
    line = value_line;
    ++count;
  }
  void end_line() {
    if (count == 0) return;
    uniform = uniform && (lines == 0 || count == per_line);
    per_line = count;
    ++lines;
    count = 0;
  }
  // The count of every line when two or more lines each held two or more.
  std::size_t columns() {
    end_line();
    return uniform && lines >= 2 && per_line >= 2 ? per_line : 0;
  }
};

Outcome read_values(Input& in, Signal& signal, std::size_t max_values, std::string& rejected, LineShape& shape) {
  if (!refill(in)) return in.read_error ? Outcome::read_error : Outcome::end_of_file;
  for (;;) {
    if (!skip_space(in)) return in.read_error ? Outcome::read_error : Outcome::end_of_file;
    InChunk token = parse_in_chunk(in.pos, in.end, in.last_chunk);
    while (token.needs_next_chunk) {
      refill(in, in.pos);
      if (in.read_error) return Outcome::read_error;
      token = parse_in_chunk(in.pos, in.end, in.last_chunk);
    }
    if (token.parsed != Parsed::value) {
      rejected = token_preview(in);  // the token starts at the read position
      return Outcome::rejected_token;
    }
    in.pos = token.end;
    if (signal.size() >= max_values) return Outcome::too_many_values;
    signal.push_back(token.value);
    shape.add(in.line);
  }
}

// Reads the file into `signal` and `report` what reading it found. ok, or
// file_error or too_long after the failure message.
Status read_and_report(std::FILE* file, std::string_view file_name, Signal& signal, std::size_t max_values,
                       std::size_t chunk_bytes, LoadReport& report) {
  const std::size_t chunk = std::max<std::size_t>(chunk_bytes, 1);
  Input in{file, chunk, std::vector<char>(chunk)};
  const std::size_t kept = signal.size();
  LineShape shape;
  switch (read_values(in, signal, max_values, report.stop_token, shape)) {
    case Outcome::end_of_file:
      report.per_line = shape.columns();
      break;
    case Outcome::rejected_token:
      report.stopped_early = true;
      report.stop_line = in.line;
      report.byte_order_mark = in.line == 1 && signal.size() == kept && report.stop_token.starts_with(utf8_mark);
      break;
    case Outcome::read_error:
      // A file that opens but cannot be read (a directory, an I/O error)
      // is as unusable as a missing one; keep no half-read values.
      signal.resize(kept);
      return refused(Status::file_error, file_name);
    case Outcome::too_many_values:
      // More values than a signal can count: none of them is usable, as
      // any count printed or computed from them would wrap.
      signal.resize(kept);
      return refused(Status::too_long, file_name);
  }
  report.values = signal.size() - kept;
  return Status::ok;
}

}  // namespace

Status load_signal_stream(std::FILE* file, std::string_view file_name, Signal& signal, std::size_t max_values,
                          std::size_t chunk_bytes, LoadReport* report) {
  const std::size_t kept = signal.size();
  Status read = Status::ok;
  LoadReport found;
  const Status allocated =
      allocating([&] { read = read_and_report(file, file_name, signal, max_values, chunk_bytes, found); });
  if (allocated != Status::ok) signal.resize(kept);  // shrinking allocates nothing
  if (report != nullptr) *report = std::move(found);
  return allocated != Status::ok ? allocated : read;
}

Status load_signal(std::string_view file_name, Signal& signal, LoadReport& report) {
  report = {};
  InputFile input = input_open(file_name);
  if (input.error == ENOMEM) return Status::out_of_memory;  // the stream's own buffers
  if (input.error != 0) return refused(Status::file_error, file_name);
  // More than the 32-bit count, or than one block of memory holds here.
  const auto most = static_cast<std::size_t>(std::min<std::uint64_t>(signal_max_length, signal.max_size()));
  const Status loaded = load_signal_stream(input.stream, file_name, signal, most, load_chunk_bytes, &report);
  report.file = input.identity;
  // What was read stays read: a failure to close the file changes nothing.
  static_cast<void>(input_close(input));
  return loaded;
}

// Alone, the reader completes the console's line before its warnings.
Status load_signal(std::string_view file_name, Signal& signal) {
  LoadReport report;
  const Status loaded = load_signal(file_name, signal, report);
  if (loaded == Status::ok && (report.stopped_early || report.per_line != 0)) {
    console_end_line();
    print_load_warnings(file_name, report, Holds::values);
  }
  return loaded;
}
