// Files replaced together: fir_gen's pair (files.h gives the protocol).
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "files/files.h"
#include "files/files_internal.h"

using namespace files_detail;

namespace {

std::string reason(int error) { return std::generic_category().message(error); }

struct Replacement {
  std::string target, temporary, backup;
  FileIdentity entry{};          // the target's entry when it was held; none: there was none
  FileIdentity reached{};        // the regular file it reached, locked through `old` (or an earlier target's)
  FileHandle old = no_file;
  std::optional<unsigned> mode;  // that file's permission bits, for the new one
  OutputFile made{};             // the new file, held to the end
  FileIdentity kept{};           // the old entry's second name (or copy), made by this run
  bool in_place = false;
};

// One run of the protocol: its files and how it went.
struct Run {
  std::vector<Replacement> all;
  ReplaceOutcome outcome;

  bool fail(std::string problem, bool in_use = false) {
    outcome.problem = std::move(problem);
    outcome.in_use = in_use;
    return false;
  }
  void leave(const std::string& entry, const std::string& why) { outcome.left.push_back(entry + ": " + why); }
};

// Locks the regular file a target reaches, so that another run replacing
// it is refused, and checks after the lock that the name still leads to
// that file. A target that reaches no regular file (none, a link to
// nothing, a FIFO) has nothing to lock; its entry is checked again before
// it is replaced.
bool hold(Run& run, std::size_t k) {
  Replacement& one = run.all[k];
  int error = entry_identity(one.target, false, one.entry);
  if (error == ENOENT) return true;
  if (error != 0) return run.fail("cannot look up " + one.target + ": " + reason(error));
  if (one.entry.kind == FileKind::directory) return run.fail(one.target + " is a folder, which is not replaced");
  FileIdentity reached;
  if (entry_identity(one.target, true, reached) != 0 || reached.kind != FileKind::regular) return true;
  for (std::size_t j = 0; j < k; ++j) {
    if (same_file(run.all[j].reached, reached)) {  // one file with an earlier target: held already
      one.reached = reached;
      one.mode = run.all[j].mode;
      return true;
    }
  }
  error = file_open_to_lock(one.target, one.old);
  if (error != 0) return run.fail("cannot open " + one.target + " to hold it: " + reason(error));
  error = file_lock(one.old);
  if (error == EWOULDBLOCK) return run.fail(one.target + " is held by another run", true);
  if (error != 0) return run.fail("cannot lock " + one.target + ": " + reason(error));
  FileIdentity locked, entry_now, reached_now;
  if ((error = file_identity(one.old, locked)) != 0) return run.fail("cannot look up " + one.target + ": " + reason(error));
  if (entry_identity(one.target, false, entry_now) != 0 || entry_identity(one.target, true, reached_now) != 0 ||
      !same_entry(entry_now, one.entry) || !identical(reached_now, locked) || !identical(locked, reached)) {
    return run.fail(one.target + " is being replaced by another run", true);
  }
  one.reached = locked;
  unsigned mode = 0;
  if ((error = file_mode(one.old, mode)) != 0) return run.fail("cannot read the mode of " + one.target + ": " + reason(error));
  one.mode = mode;
  return true;
}

// Creates and holds every new file under one free tag, with its old file's
// permission bits.
bool begin(Run& run) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string suffix = tag(attempt);
    bool name_taken = false;
    for (Replacement& one : run.all) {
      one.temporary = one.target + suffix + std::string(temporary_suffix);
      one.backup = one.target + suffix + std::string(backup_suffix);
      one.made = OutputFile{.name = one.temporary};
      int error = create_held(one.made);
      if (error == EEXIST) {
        name_taken = true;
        break;
      }
      if (error == 0 && one.mode) error = file_set_mode(one.made.handle, *one.mode);
      if (error != 0) return run.fail("cannot create " + one.temporary + ": " + reason(error));
    }
    if (!name_taken) return true;
    for (Replacement& one : run.all) {
      output_abandon(one.made);
      if (one.made.left_behind) run.leave(one.temporary, "made by this run, cannot be removed");
      one.made = OutputFile{};
    }
  }
  return run.fail("cannot find a free name for the new files beside " + run.all.front().target);
}

bool write_new(Run& run, std::size_t k, const ReplaceSteps& steps) {
  Replacement& one = run.all[k];
  if (!steps.write(k, one.made)) {
    return run.fail("cannot write the new " + one.target + (one.made.error != 0 ? ": " + reason(one.made.error) : ""));
  }
  const int error = file_sync(one.made.handle);
  return error == 0 || run.fail("cannot flush the new " + one.target + " to the disk: " + reason(error));
}

// Keeps the old entry under the backup name: a second name of it, or,
// where the file system has no hard links, a copy of the file or link.
bool keep(Run& run, Replacement& one) {
  if (one.entry.kind == FileKind::none) return true;
  int error = entry_link(one.target, one.backup);
  if (error == EPERM || error == EXDEV || error == ENOTSUP || error == EOPNOTSUPP || error == EMLINK || error == ENOSYS) {
    if (one.entry.kind == FileKind::link) {
      error = entry_copy_link(one.target, one.backup);
    } else if (one.entry.kind == FileKind::regular) {
      error = copy_file(one.target, one.backup, one.mode);
    }
  }
  if (error != 0) return run.fail("cannot keep the old " + one.target + " as " + one.backup + ": " + reason(error));
  if ((error = entry_identity(one.backup, false, one.kept)) != 0) {
    run.leave(one.backup, "the earlier " + one.target + ", cannot be looked up");
    return run.fail("cannot look up " + one.backup + ": " + reason(error));
  }
  return true;
}

// Lets go of the old files where the system will not rename over an open
// one (Windows); each target's entry is still checked before it is
// replaced. The new files stay held: a rename moves an open file.
bool release_old_files(Run& run) {
  if (open_files_can_be_replaced()) return true;
  for (Replacement& one : run.all) {
    const int error = one.old != no_file ? file_close(one.old) : 0;
    one.old = no_file;
    if (error != 0) return run.fail("cannot close " + one.target + ": " + reason(error));
  }
  return true;
}

// Where the system will not rename over an open file, a target that now
// leads to one of this run's new files (a link to the other target) first
// has that file let go of.
bool release_what_it_reaches(Run& run, const Replacement& one) {
  FileIdentity reached;
  if (open_files_can_be_replaced() || entry_identity(one.target, true, reached) != 0) return true;
  for (Replacement& other : run.all) {
    if (other.made.handle == no_file || !identical(reached, other.made.identity) || output_close(other.made)) continue;
    return run.fail("cannot close the new " + other.target + ": " + reason(other.made.error));
  }
  return true;
}

// Renames each new file over its target once every target is still the
// entry that was held (a missing one only while it is still missing; all
// are checked first, as Wine looks through a link at what it reaches), then
// flushes the folder.
bool place(Run& run) {
  if (!release_old_files(run)) return false;
  for (Replacement& one : run.all) {
    FileIdentity now;
    const int found = entry_identity(one.target, false, now);
    if (one.entry.kind == FileKind::none ? found != ENOENT : found != 0 || !same_entry(now, one.entry)) {
      return run.fail(one.target + " was replaced by another run meanwhile", true);
    }
  }
  for (Replacement& one : run.all) {
    if (!release_what_it_reaches(run, one)) return false;
    const bool missing = one.entry.kind == FileKind::none;
    const int error = missing ? entry_rename_new(one.temporary, one.target) : entry_rename(one.temporary, one.target);
    if (missing && error == EEXIST) return run.fail("another run wrote " + one.target + " meanwhile", true);
    if (error != 0) return run.fail("cannot rename " + one.temporary + " to " + one.target + ": " + reason(error));
    one.in_place = true;
  }
  const int error = folder_sync(run.all.front().target);
  return error == 0 || run.fail("cannot flush the folder of " + run.all.front().target + " to the disk: " + reason(error));
}

// Removes the entry `name` while it still leads to `made`, this run's; an
// entry that will not go is named.
void remove_own(Run& run, const std::string& name, const FileIdentity& made, const std::string& what) {
  FileIdentity now;
  int error = entry_identity(name, false, now);
  if (error == 0 && !same_entry(now, made)) error = EEXIST;
  if (error == 0) error = entry_remove(name);
  if (error != 0) run.leave(name, what + ", cannot be removed: " + reason(error));
}

void drop_kept(Run& run, Replacement& one) {
  if (one.kept.kind != FileKind::none) remove_own(run, one.backup, one.kept, "the earlier " + one.target);
  one.kept = {};
}

// Puts every old entry back while the target still holds this run's new
// file, and removes what this run made. A kept entry that could not be put
// back stays, and is named.
void undo(Run& run) {
  for (Replacement& one : run.all) {
    bool backup_needed = false;
    if (one.in_place) {
      FileIdentity now;
      int error = entry_identity(one.target, false, now);
      if (error == 0 && !same_entry(now, one.made.identity)) error = EEXIST;
      // The new file has the old one's permission bits: a read-only one
      // would keep Windows from renaming over it or removing it, and so
      // would the run's own handle on it.
      if (error == 0 && one.made.handle != no_file && one.mode && (*one.mode & 0222) == 0) {
        static_cast<void>(file_set_mode(one.made.handle, 0600));
      }
      if (error == 0 && !open_files_can_be_replaced() && one.made.handle != no_file && !output_close(one.made)) {
        error = one.made.error;
      }
      if (error == 0 && one.kept.kind != FileKind::none) {
        error = entry_rename(one.backup, one.target);
        if (error == 0) one.kept = {};
      } else if (error == 0) {
        error = entry_remove(one.target);
      }
      if (error != 0) {
        run.outcome.restored = false;
        backup_needed = one.kept.kind != FileKind::none;
        run.leave(one.target, error == EEXIST ? "no longer this run's new file, left as it is"
                                              : "this run's new file, cannot be taken back: " + reason(error));
      }
      one.in_place = false;
    } else if (one.made.handle != no_file) {
      output_abandon(one.made);
      if (one.made.left_behind) run.leave(one.temporary, "made by this run, cannot be removed");
    }
    if (backup_needed) {
      run.leave(one.backup, "the earlier " + one.target);
    } else {
      drop_kept(run, one);
    }
  }
}

// Closes every file the run opened, which lets go of its locks.
void release(Run& run) {
  for (Replacement& one : run.all) {
    if (one.made.handle != no_file && !output_close(one.made) && run.outcome.replaced) {
      run.leave(one.target, "cannot close the new file: " + reason(one.made.error));
    }
    if (one.old != no_file) {
      const int error = file_close(one.old);
      if (error != 0) run.leave(one.target, "cannot close the old file: " + reason(error));
      one.old = no_file;
    }
  }
}

}  // namespace

ReplaceOutcome replace_files(std::span<const std::string_view> targets, const ReplaceSteps& steps) {
  Run run;
  run.all.resize(targets.size());
  for (std::size_t k = 0; k < targets.size(); ++k) run.all[k].target = targets[k];
  bool going = true;
  for (std::size_t k = 0; going && k < targets.size(); ++k) going = hold(run, k);
  going = going && begin(run);
  for (std::size_t k = 0; going && k < targets.size(); ++k) going = write_new(run, k, steps);
  for (Replacement& one : run.all) going = going && keep(run, one);
  going = going && place(run);
  if (going) {
    const std::string problem = steps.report();
    going = problem.empty() || run.fail(problem);
  }
  if (going) {
    run.outcome.replaced = true;
    for (Replacement& one : run.all) drop_kept(run, one);
  } else {
    undo(run);
  }
  release(run);
  return run.outcome;
}

