// The one door through which the three programs open, lock, write, empty,
// close, remove and replace files:
// - A file is known by what it is (its FileIdentity), compared once it is
//   open, never by how its name is spelled: ./t.tsv, /home/u/t.tsv, a
//   symbolic or a hard link to t.tsv all reach one file. An input is known
//   by the file the reader opened.
// - Runs exclude each other: every output that is a regular file is locked
//   as soon as it is opened, and one that another run holds is refused
//   untouched. A device, a FIFO or a terminal is shared by everything that
//   writes to it and is never locked.
// - A run empties, removes or restores a file only while it holds it, only
//   what it made or kept itself, and only after checking by identity that
//   the name still leads there. What another run left is named, never
//   removed.
// - Nothing throws: every failure is a status with the system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// Whether `a` and `b` are one file. A character device (the null device, a
// terminal) loses nothing to a second writer, so it is never one file with
// another name.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Whether a name still leads to the entry `made`: the same file, of the
// same kind (a link, not what it leads to).
bool same_entry(const FileIdentity& now, const FileIdentity& made);

// The file `name` reaches now (kind none when none or unknown), for what
// must be compared before anything is read.
FileIdentity file_reached(std::string_view name);

// The null device that stands in for standard output when process_prepare
// found it closed; kind none otherwise.
FileIdentity standard_output_stand_in(const ProcessStart& start);

// ---- Inputs ---------------------------------------------------------------------

struct InputFile {
  std::FILE* stream = nullptr;  // read it; input_close closes it
  FileIdentity identity{};      // the file opened, to compare outputs with
  int error = 0;                // why it could not be opened (ENOMEM: no memory for the stream)
};

InputFile input_open(std::string_view name);

// Closes the stream: 0 or the system's reason.
int input_close(InputFile& input);

// ---- Files written in place: fir_bench's results and log, fir_sweep's table ----

enum class OutputProblem {
  none,
  cannot_open,      // `error` tells why
  link_to_nothing,  // a symbolic link that leads nowhere: nothing is created through it
  in_use,           // another run holds the file, or replaced it while this one opened it
  same_file,        // one file with an input (same_input) or another output (same_output)
  closed_stream,    // the null device that stands in for a closed standard stream
  cannot_write,     // a write, the emptying or the close failed; `error` tells why
};

// One output and what became of it. It owns its handle: the functions
// below close it, and a copy must not outlive them.
struct OutputFile {
  std::string_view name;  // as the user or the program spells it
  FileHandle handle = no_file;
  FileIdentity identity{};
  bool created = false;  // this run made the file
  bool held = false;     // this run holds it (its lock; nobody locks a device or a pipe)
  OutputProblem problem = OutputProblem::none;
  int error = 0;
  std::optional<std::size_t> same_input{}, same_output{};
  std::uint64_t written = 0;  // bytes handed to the system
  std::uint64_t whole = 0;    // of them, those of complete lines
  bool cut_back = true;       // after a failed write, the file holds only complete lines
  bool left_behind = false;   // abandoned, the file this run made could not be removed
};

// Opens every output for writing without emptying any: a new file is
// created exclusively, an existing one opened; each regular file is then
// locked and checked to be what its name still reaches. One that cannot be
// opened, that another run holds, that is one file with an input or the
// stand-in for a closed standard stream (`closed_streams`), is refused; so
// are both outputs of a pair that are one file. A refused output has its
// `problem` set and is abandoned.
void open_outputs(std::span<OutputFile* const> outputs, std::span<const FileIdentity> inputs,
                  std::span<const FileIdentity> closed_streams = {});

// Empties an output open_outputs let through (a device or a pipe has no
// length to cut). False, with cannot_write, when the system refuses.
bool output_empty(OutputFile& output);

// Hands `text` to the system in one call. False once a write has failed:
// the file is cut back to its last complete line, so that no reader takes
// a line cut short for a whole one, and nothing more is written.
bool output_write(OutputFile& output, std::string_view text);

// Closes the output; false when it failed before or closing fails.
bool output_close(OutputFile& output);

// Closes the output; removes it when this run made it and holds it and the
// name still names it (a refused command leaves no file behind).
void output_abandon(OutputFile& output);

// ---- Files replaced together: fir_gen's pair ----------------------------------------
//
// Each target that reaches a regular file is locked first, and the lock
// held until the end, so that two runs replacing one pair exclude each
// other; the names are checked against the locked files after the locks
// are taken. Each new file is written as <target>.<process id>.<16 hex
// digits>.tmp beside its target, created exclusively, given the old file's
// permission bits and flushed to the disk. Then each old entry is kept as
// <target>.<same tag>.old (a second name of it; a copy of a file, or of a
// symbolic link, where the file system has no hard links), each new file
// renamed over its target (a link is replaced, not what it leads to; a
// missing target only while it is still missing) and the folder flushed.
// The caller then reports; only then are the kept entries removed. A
// failure at any point puts every old entry back and removes what this run
// made, each only while its name still leads to this run's file.

struct ReplaceSteps {
  // Writes the new content of target `k` into `file`; false when a write
  // fails (output_write keeps the reason).
  std::function<bool(std::size_t k, OutputFile& file)> write;
  // Says that the new files are in place: "", or the problem when it
  // cannot (then everything is put back).
  std::function<std::string()> report;
};

struct ReplaceOutcome {
  bool replaced = false;   // every new file is in place and reported
  bool in_use = false;     // not replaced: another run holds or replaces a target
  bool restored = true;    // not replaced: the folder is as it was
  std::string problem;     // not replaced: why, with the system's reason
  std::vector<std::string> left;  // entries this run made or kept that stay, each with why
};

ReplaceOutcome replace_files(std::span<const std::string_view> targets, const ReplaceSteps& steps);

// The entries of the current folder that look like the temporaries and
// kept entries of `targets`, made by another run (interrupted, or still
// running), each with what it holds: "input.txt.4711.0123456789abcdef.old
// (the earlier input.txt)".
std::vector<std::string> replacement_leftovers(std::span<const std::string_view> targets);
