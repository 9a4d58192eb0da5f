#include "files/files.h"

#include <cerrno>
#include <cstdio>

#include "files/files_internal.h"

// ---- Identities ----------------------------------------------------------------------

namespace files_detail {

bool identical(const FileIdentity& a, const FileIdentity& b) {
  return a.kind != FileKind::none && b.kind != FileKind::none && (a.volume != 0 || a.index != 0) &&
         a.volume == b.volume && a.index == b.index;
}

}  // namespace files_detail

using namespace files_detail;

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return identical(a, b) && a.kind != FileKind::device && b.kind != FileKind::device;
}

bool same_entry(const FileIdentity& now, const FileIdentity& made) { return identical(now, made) && now.kind == made.kind; }

FileIdentity file_reached(std::string_view name) {
  FileIdentity identity;
  return entry_identity(name, true, identity) == 0 ? identity : FileIdentity{};
}

FileIdentity standard_output_stand_in(const ProcessStart& start) {
  FileIdentity identity;
  if (!start.output_was_closed || file_identity(standard_output_handle(), identity) != 0) return {};
  return identity;
}

// ---- Inputs ---------------------------------------------------------------------------

InputFile input_open(std::string_view name) {
  InputFile input;
  input.error = input_file_open(name, input.stream);
  if (input.error == 0) input.error = file_identity(input.stream, input.identity);
  if (input.error != 0 && input.stream != nullptr) {
    static_cast<void>(input_close(input));  // a stream that cannot be told apart is not read
  }
  return input;
}

int input_close(InputFile& input) {
  const int error = input.stream != nullptr && std::fclose(input.stream) != 0 ? errno : 0;
  input.stream = nullptr;
  return error;
}

// ---- Files written in place -------------------------------------------------------------

namespace {

// A new file is created exclusively, so that the run knows it made it; an
// entry that is there already is opened as the file it reaches. Between
// the two calls another process may create or remove the entry: then the
// pair is tried again.
void open_output(OutputFile& out) {
  int error = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    error = file_create(out.name, out.handle);
    if (error == 0) {
      out.created = true;
      break;
    }
    if (error != EEXIST) break;
    error = file_open_existing(out.name, out.handle);
    if (error != ENOENT) break;
    FileIdentity entry;
    if (entry_identity(out.name, false, entry) == 0 && entry.kind == FileKind::link) {
      out.problem = OutputProblem::link_to_nothing;
      return;
    }
  }
  if (error == 0) error = file_identity(out.handle, out.identity);
  if (error == 0) return;
  if (out.handle != no_file) {
    // A file that cannot be told apart is neither held nor removed.
    out.left_behind = out.created;
    static_cast<void>(file_close(out.handle));
    out.handle = no_file;
    out.created = false;
  }
  out.problem = OutputProblem::cannot_open;
  out.error = error;
}

void refuse(OutputFile& out, OutputProblem problem) {
  if (out.problem == OutputProblem::none) out.problem = problem;
}

}  // namespace

namespace files_detail {

OutputProblem take_hold(OutputFile& out) {
  if (out.identity.kind == FileKind::regular) {
    const int error = file_lock(out.handle);
    if (error == EWOULDBLOCK) return OutputProblem::in_use;
    if (error != 0) {
      out.error = error;
      return OutputProblem::cannot_open;
    }
    // A file this run made that holds something when the lock is taken was
    // opened and written by another run in between: it is that run's now.
    bool empty = false;
    if (out.created && (file_is_empty(out.handle, empty) != 0 || !empty)) out.created = false;
  }
  // A regular file's name must still lead to the file locked; a device or
  // a pipe, which nobody locks, need not (Windows gives them no identity).
  FileIdentity now;
  if (out.identity.kind == FileKind::regular &&
      (entry_identity(out.name, true, now) != 0 || !identical(now, out.identity))) {
    return OutputProblem::in_use;
  }
  out.held = true;
  return OutputProblem::none;
}

int create_held(OutputFile& out) {
  int error = file_create(out.name, out.handle);
  if (error == 0) {
    out.created = true;
    error = file_identity(out.handle, out.identity);
  }
  return error == 0 && take_hold(out) != OutputProblem::none ? EBUSY : error;
}

// A copy of the file `name` as the new file `copy`, with `mode`, flushed;
// none is left when it cannot be made whole.
int copy_file(const std::string& name, const std::string& copy, std::optional<unsigned> mode) {
  InputFile in = input_open(name);
  if (in.error != 0) return in.error;
  OutputFile out{.name = copy};
  int error = create_held(out);
  char buffer[1 << 16];
  while (error == 0) {
    const std::size_t size = std::fread(buffer, 1, sizeof buffer, in.stream);
    if (size > 0 && !output_write(out, {buffer, size})) error = out.error;
    if (error == 0 && size < sizeof buffer && std::ferror(in.stream)) error = EIO;
    if (size < sizeof buffer) break;
  }
  if (error == 0 && mode) error = file_set_mode(out.handle, *mode);
  if (error == 0) error = file_sync(out.handle);
  const int closed = input_close(in);
  if (error == 0) error = closed;
  if (error == 0 && !output_close(out)) error = out.error;
  if (error != 0) output_abandon(out);
  return error;
}

}  // namespace files_detail

void open_outputs(std::span<OutputFile* const> outputs, std::span<const FileIdentity> inputs,
                  std::span<const FileIdentity> closed_streams) {
  for (OutputFile* out : outputs) open_output(*out);
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    OutputFile& out = *outputs[k];
    if (out.handle == no_file) continue;
    for (std::size_t i = 0; i < inputs.size() && !out.same_input; ++i) {
      if (same_file(out.identity, inputs[i])) out.same_input = i;
    }
    if (out.same_input) refuse(out, OutputProblem::same_file);
    for (const FileIdentity& stream : closed_streams) {
      if (identical(out.identity, stream)) refuse(out, OutputProblem::closed_stream);
    }
    // Two outputs that are one file are both refused: whichever were
    // written, the other's name would show it. The later one shares the
    // earlier one's hold (a second lock would be refused).
    for (std::size_t j = 0; j < k && !out.same_output; ++j) {
      OutputFile& earlier = *outputs[j];
      if (earlier.handle == no_file || !same_file(out.identity, earlier.identity)) continue;
      out.same_output = j;
      if (!earlier.same_output) earlier.same_output = k;
      refuse(earlier, OutputProblem::same_file);
      refuse(out, OutputProblem::same_file);
    }
    if (!out.same_output) refuse(out, take_hold(out));
  }
  for (OutputFile* out : outputs) {
    if (out->problem != OutputProblem::none) output_abandon(*out);
  }
}

bool output_empty(OutputFile& output) {
  if (output.problem != OutputProblem::none) return false;
  if (output.identity.kind != FileKind::regular) return true;
  output.error = file_truncate(output.handle, 0);
  if (output.error != 0) output.problem = OutputProblem::cannot_write;
  return output.error == 0;
}

bool output_write(OutputFile& output, std::string_view text) {
  if (output.problem != OutputProblem::none) return false;
  const int error = file_write(output.handle, text);
  if (error == 0) {
    output.written += text.size();
    const std::size_t last_line_end = text.rfind('\n');
    if (last_line_end != std::string_view::npos) output.whole = output.written - (text.size() - 1 - last_line_end);
    return true;
  }
  output.problem = OutputProblem::cannot_write;
  output.error = error;
  if (output.identity.kind == FileKind::regular) output.cut_back = file_truncate(output.handle, output.whole) == 0;
  return false;
}

bool output_close(OutputFile& output) {
  if (output.handle == no_file) return false;
  const int error = file_close(output.handle);
  output.handle = no_file;
  output.held = false;
  if (error != 0 && output.problem == OutputProblem::none) {
    output.problem = OutputProblem::cannot_write;
    output.error = error;
  }
  return output.problem == OutputProblem::none;
}

void output_abandon(OutputFile& output) {
  if (output.handle == no_file) return;
  if (output.created && output.held) {
    FileIdentity now;
    // The name leads elsewhere: this run's file is gone from it already.
    if (entry_identity(output.name, false, now) == 0 && same_entry(now, output.identity)) {
      output.left_behind = entry_remove(output.name) != 0;
    }
  }
  const int error = file_close(output.handle);
  if (error != 0 && output.error == 0) output.error = error;
  output.handle = no_file;
  output.held = false;
  output.created = false;
}
