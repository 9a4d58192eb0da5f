// The files the three programs write, written one way:
// - A file is known by what it is (its FileIdentity), compared once it is
//   open, never by how its name is spelled: ./t.tsv, /home/u/t.tsv, a
//   symbolic or a hard link to t.tsv all reach one file.
// - A run deletes only what it made. It knows what it made because it
//   creates new files exclusively; what another run left (interrupted, or
//   running beside it in a container or on another host) is named, never
//   removed.
// - Nothing throws: every failure is a status, or a problem in words that
//   names the file.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// Whether `a` and `b` are one file. A character device (the null device, a
// terminal) is shared by everything that writes to it and loses nothing to
// a second writer, so it is never one file with another name.
bool same_file(const FileIdentity& a, const FileIdentity& b);

// ---- Files written in place: fir_bench's results and log, fir_sweep's table ----

enum class OutputProblem {
  none,
  cannot_open,      // errno tells why
  link_to_nothing,  // a symbolic link that leads nowhere: nothing is created through it
  same_file,        // one file with an input or with another output
};

struct OutputFile {
  std::string_view name;  // as the user or the program spells it
  int handle = -1;
  bool created = false;  // this run made the file
  FileIdentity identity{};
  OutputProblem problem = OutputProblem::none;
  int error = 0;            // with cannot_open: errno of the open
  std::size_t same_as = 0;  // with same_file: which input, or the input count + which other output
};

// Opens every output for writing without emptying any: a new file is
// created exclusively, an existing one opened. Then each is compared with
// every input (the files the command reads) and every other output. One
// that cannot be opened, or is one file with an input, is refused; so are
// both outputs of a pair that are one file. A refused output has its
// `problem` set and output_abandon run for it. Allocates nothing.
void open_outputs(std::span<OutputFile> outputs, std::span<const FileIdentity> inputs);

// Empties an output open_outputs let through; a device or a pipe has no
// length to cut and is left as it is.
void output_empty(const OutputFile& output);

// Closes the output; removes it when this run created it and the name still
// names it (a refused command leaves no file behind).
void output_abandon(OutputFile& output);

// ---- Files replaced together: fir_gen's pair ----------------------------------------
//
// Each new file is written as <target>.<process id>.<16 hex digits>.tmp
// beside its target, created exclusively. Once every new file is written,
// each old entry is kept as <target>.<same tag>.old (a second name of it; a
// copy of a file, or of a symbolic link, where the file system has no hard
// links) and each new file renamed over its target: a link is replaced, not
// what it leads to. The caller then reports; only then are the kept entries
// removed. A failure at any point puts every old entry back and removes
// every file this run made.

struct Replacement {
  std::string target{};
  std::string temporary{};  // the new file, made by this run
  std::string backup{};     // the old entry, kept by this run; empty when there was none
  int handle = -1;        // the temporary, open for writing until replacement_close
  FileIdentity made{};    // the temporary's file
  FileIdentity kept{};    // the backup's entry
  bool in_place = false;  // the temporary has been renamed over the target
};

// Creates and opens the temporary of every target. False with `problem`,
// nothing left behind.
bool replacements_begin(std::span<Replacement> all, std::string& problem);

// Closes the temporary once the caller has written it; false when closing
// reports an error.
bool replacement_close(Replacement& one);

// Keeps the old entries and puts the new files in place; false with
// `problem`, for replacements_undo.
bool replacements_commit(std::span<Replacement> all, std::string& problem);

// After the caller has reported the new files: removes the kept entries.
void replacements_finish(std::span<Replacement> all);

// Puts every old entry back and removes what this run made. False, with
// what could not be put back appended to `problem`, when a kept entry has
// to stay.
bool replacements_undo(std::span<Replacement> all, std::string& problem);

// The entries of the current folder that look like the temporaries and
// kept entries of `targets` (another run's, since this run has made none
// yet), each with what it holds: "input.txt.4711.0123456789abcdef.old (the
// earlier input.txt)".
std::vector<std::string> replacement_leftovers(std::span<const std::string_view> targets);
