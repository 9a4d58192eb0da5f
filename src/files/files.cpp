#include "files/files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  const auto known = [](const FileIdentity& f) {
    return f.kind != FileKind::none && f.kind != FileKind::device && (f.volume != 0 || f.index != 0);
  };
  return known(a) && known(b) && a.volume == b.volume && a.index == b.index;
}

// ---- Files written in place --------------------------------------------------------

namespace {

// A new file is created exclusively, so that the run knows it made it; an
// entry that is there already is opened as the file it reaches. Between
// the two calls another process may create or remove the entry: then the
// pair is tried again.
void open_output(OutputFile& out) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    out.handle = output_file_create(out.name);
    if (out.handle != -1) {
      out.created = true;
      break;
    }
    if (errno != EEXIST) break;
    out.handle = output_file_open_existing(out.name);
    if (out.handle != -1 || errno != ENOENT) break;
    if (file_identity(out.name, false).kind == FileKind::link) {
      out.problem = OutputProblem::link_to_nothing;
      return;
    }
  }
  if (out.handle == -1) {
    out.problem = OutputProblem::cannot_open;
    out.error = errno;
    return;
  }
  out.identity = file_identity(out.handle);
}

void refuse(OutputFile& out, std::size_t same_as) {
  output_abandon(out);
  out.problem = OutputProblem::same_file;
  out.same_as = same_as;
}

}  // namespace

void open_outputs(std::span<OutputFile> outputs, std::span<const FileIdentity> inputs) {
  for (OutputFile& out : outputs) open_output(out);
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    OutputFile& out = outputs[k];
    for (std::size_t i = 0; i < inputs.size() && out.problem == OutputProblem::none; ++i) {
      if (same_file(out.identity, inputs[i])) refuse(out, i);
    }
    // Two outputs that are one file are both refused: whichever were
    // written, the other's name would show it.
    for (std::size_t j = 0; j < k && out.problem == OutputProblem::none; ++j) {
      if (!same_file(out.identity, outputs[j].identity)) continue;
      refuse(out, inputs.size() + j);
      if (outputs[j].problem == OutputProblem::none) refuse(outputs[j], inputs.size() + k);
    }
  }
}

void output_empty(const OutputFile& output) { static_cast<void>(output_file_truncate(output.handle, 0)); }

void output_abandon(OutputFile& output) {
  if (output.handle != -1) output_file_close(output.handle);
  output.handle = -1;
  if (output.created) static_cast<void>(entry_remove_if(output.name, output.identity));
  output.created = false;
}

// ---- Files replaced together ---------------------------------------------------------

namespace {

constexpr std::string_view temporary_suffix = ".tmp";
constexpr std::string_view backup_suffix = ".old";

std::string reason() { return std::generic_category().message(errno); }

// ".<process id>.<16 hex digits>": the digits mix the clock with the
// attempt (splitmix64), so that two runs started at once differ; the
// exclusive creation, not the digits, keeps them apart.
std::string tag(int attempt) {
  std::uint64_t mixed = static_cast<std::uint64_t>(counter_ticks()) + 0x9E3779B97F4A7C15u * std::uint64_t(attempt + 1);
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
  mixed ^= mixed >> 31;
  char text[40];
  std::snprintf(text, sizeof text, ".%u.%016llx", static_cast<unsigned>(process_id()),
                static_cast<unsigned long long>(mixed));
  return text;
}

// A copy of the file `name` as the new file `copy`; false, with no copy
// left, when it cannot be made whole.
bool copy_file(const std::string& name, const std::string& copy, FileIdentity& made) {
  std::FILE* const in = input_file_open(name);
  if (in == nullptr) return false;
  const int out = output_file_create(copy);
  bool whole = out != -1;
  if (whole) {
    made = file_identity(out);
    char buffer[1 << 16];
    for (std::size_t size; whole && (size = std::fread(buffer, 1, sizeof buffer, in)) > 0;) {
      whole = output_file_write(out, {buffer, size});
    }
    whole = whole && !std::ferror(in);
  }
  const int error = errno;
  std::fclose(in);
  if (out != -1 && !output_file_close(out)) whole = false;
  if (!whole && out != -1) static_cast<void>(entry_remove_if(copy, made));
  errno = error;
  return whole;
}

// Keeps the old entry of `one.target` under `one.backup`: a second name of
// it, or a copy of a file or of a symbolic link where the file system has
// no hard links. Nothing to keep when there is no entry, or a folder, which
// no rename replaces.
bool keep_old(Replacement& one, std::string& problem) {
  const FileIdentity old = file_identity(one.target, false);
  if (old.kind == FileKind::none || old.kind == FileKind::directory) {
    one.backup.clear();
    return true;
  }
  bool kept = entry_link(one.target, one.backup);
  if (!kept && errno != EEXIST) {
    if (old.kind == FileKind::link) {
      kept = entry_copy_link(one.target, one.backup);
    } else if (old.kind == FileKind::regular) {
      FileIdentity copy{};
      kept = copy_file(one.target, one.backup, copy);
    }
  }
  if (!kept) {
    problem = "cannot keep the old " + one.target + " as " + one.backup + ": " + reason();
    return false;
  }
  one.kept = file_identity(one.backup, false);
  return true;
}

}  // namespace

bool replacements_begin(std::span<Replacement> all, std::string& problem) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string suffix = tag(attempt);
    const Replacement* failed = nullptr;
    for (Replacement& one : all) {
      one.temporary = one.target + suffix + std::string(temporary_suffix);
      one.backup = one.target + suffix + std::string(backup_suffix);
      one.handle = output_file_create(one.temporary);
      if (one.handle == -1) {
        failed = &one;
        break;
      }
      one.made = file_identity(one.handle);
    }
    if (failed == nullptr) return true;
    const int error = errno;
    problem = "cannot create " + failed->temporary + ": ";
    std::string ignored;
    replacements_undo(all, ignored);
    errno = error;
    if (error != EEXIST) {  // a name in use is tried again with another tag
      problem += reason();
      return false;
    }
  }
  problem = "cannot find a free name for the new files beside " + all.front().target;
  return false;
}

bool replacement_close(Replacement& one) {
  const bool closed = one.handle == -1 || output_file_close(one.handle);
  one.handle = -1;
  return closed;
}

bool replacements_commit(std::span<Replacement> all, std::string& problem) {
  for (Replacement& one : all) {
    if (!keep_old(one, problem)) return false;
  }
  for (Replacement& one : all) {
    if (!entry_rename(one.temporary, one.target)) {
      problem = "cannot rename " + one.temporary + " to " + one.target + ": " + reason();
      return false;
    }
    one.in_place = true;
  }
  return true;
}

void replacements_finish(std::span<Replacement> all) {
  for (Replacement& one : all) {
    if (one.kept.kind != FileKind::none) static_cast<void>(entry_remove_if(one.backup, one.kept));
    one.kept = {};
  }
}

bool replacements_undo(std::span<Replacement> all, std::string& problem) {
  bool all_back = true;
  for (Replacement& one : all) {
    static_cast<void>(replacement_close(one));
    if (one.in_place && one.kept.kind != FileKind::none) {
      if (!entry_rename(one.backup, one.target)) {
        all_back = false;
        problem += "; cannot put back the old " + one.target + " (it is in " + one.backup + "): " + reason();
        continue;
      }
      one.kept = {};
    } else if (one.in_place) {
      static_cast<void>(entry_remove_if(one.target, one.made));
    } else {
      if (one.made.kind != FileKind::none) static_cast<void>(entry_remove_if(one.temporary, one.made));
      if (one.kept.kind != FileKind::none) static_cast<void>(entry_remove_if(one.backup, one.kept));
      one.kept = {};
    }
    one.made = {};
    one.in_place = false;
  }
  return all_back;
}

namespace {

// Whether `name` is <target>.<digits>.<16 hex digits> followed by `suffix`.
bool made_by_a_run(std::string_view name, std::string_view target, std::string_view suffix) {
  if (!name.starts_with(target) || !name.ends_with(suffix)) return false;
  std::string_view tag = name.substr(target.size(), name.size() - target.size() - suffix.size());
  const auto digits = [](std::string_view text, std::string_view allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
  };
  if (!tag.starts_with('.') || tag.size() < 19) return false;
  const std::string_view hex = tag.substr(tag.size() - 16);
  const std::string_view id = tag.substr(1, tag.size() - 18);
  return tag[tag.size() - 17] == '.' && digits(id, "0123456789") && digits(hex, "0123456789abcdef");
}

}  // namespace

std::vector<std::string> replacement_leftovers(std::span<const std::string_view> targets) {
  std::vector<std::string> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(".", error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    for (const std::string_view target : targets) {
      if (made_by_a_run(name, target, backup_suffix)) {
        found.push_back(name + " (the earlier " + std::string(target) + ")");
      } else if (made_by_a_run(name, target, temporary_suffix)) {
        found.push_back(name + " (a new " + std::string(target) + ", perhaps unfinished)");
      }
    }
  }
  return found;
}
