// fir_gen: writes a test signal and FIR taps for fir_bench; see --help.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "options/options.h"
#include "platform/platform.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"

namespace {

// One file fir_gen writes.
struct Output {
  const char* name;
  bool is_signal;  // input.txt, else fir.txt
  Signal values;
};

// The one wording of what went wrong with `what` (a file, or nothing for
// the program as a whole); returns the exit code.
int failed(Status status, const std::string& what) {
  switch (status) {
    case Status::ok:
      return 0;
    case Status::file_error:
      std::fprintf(stderr, "fir_gen: cannot write %s completely\n", what.c_str());
      return 1;
    case Status::out_of_memory:
      std::fprintf(stderr, "fir_gen: not enough memory%s%s\n", what.empty() ? "" : " for ", what.c_str());
      return 1;
    case Status::too_long:
      std::fprintf(stderr, "fir_gen: %s: more values than a signal can count\n", what.c_str());
      return 2;
    case Status::fftw_failed:
      break;  // nothing here plans a transform
  }
  std::fprintf(stderr, "fir_gen: cannot make %s\n", what.c_str());
  return 1;
}

int refused(const std::string& problem) {
  std::fprintf(stderr, "fir_gen: %s; nothing was written\n", problem.c_str());
  return 2;
}

// The values of every output, or why they cannot be had: memory, an
// exception of the maths library, or a value that is not finite (which
// the argument checks should already have refused).
int make_outputs(const GenOptions& options, std::vector<Output>& outputs) {
  if (options.write_signal) outputs.push_back({"input.txt", true, {}});
  if (options.write_filter) outputs.push_back({"fir.txt", false, {}});
  for (Output& out : outputs) {
    std::string maths_error;
    const Status made = allocating([&] {
      try {
        out.values = out.is_signal ? make_signal(options.signal)
                                   : make_filter(options.filter, options.signal.sample_rate);
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::exception& error) {
        maths_error = error.what();
      }
    });
    if (made != Status::ok) return failed(made, out.name);
    if (!maths_error.empty()) return refused(std::string(out.name) + ": cannot be computed (" + maths_error + ")");
    if (!std::all_of(out.values.begin(), out.values.end(), [](double v) { return std::isfinite(v); })) {
      return refused(std::string(out.name) + ": these options give values that are not finite numbers");
    }
  }
  return 0;
}

// ---- Replacing the pair together --------------------------------------------
//
// Each new file is written as <name>.<process id>.<random>.tmp beside the
// old one, which is kept as <name>.<process id>.<random>.old (a hard link,
// or a copy where the file system has none) until every new file is in
// place and reported on standard output. A rename or a report that fails
// puts every old file back. The names carry the process id, so that a run
// can remove what a killed one left, and never what a running one holds.

struct Names {
  std::string temporary, backup;  // backup empty: no old file to keep
};

constexpr const char* temporary_suffix = ".tmp";
constexpr const char* backup_suffix = ".old";

// ".<process id>.<16 hex digits>"
std::string process_tag() {
  std::random_device entropy;
  char tag[40];
  std::snprintf(tag, sizeof tag, ".%u.%08x%08x", static_cast<unsigned>(process_id()), entropy(), entropy());
  return tag;
}

// Whether `file` is one of `name`'s temporaries or backups, left by a
// process that no longer runs.
bool stale(const std::string& file, const char* name) {
  const std::string prefix = std::string(name) + ".";
  if (!file.starts_with(prefix) || !(file.ends_with(temporary_suffix) || file.ends_with(backup_suffix))) return false;
  unsigned id = 0;
  char hex[17] = {};
  int used = 0;
  if (std::sscanf(file.c_str() + prefix.size(), "%u.%16[0-9a-f]%n", &id, hex, &used) != 2) return false;
  return std::strlen(hex) == 16 && prefix.size() + static_cast<std::size_t>(used) + 4 == file.size() &&
         !process_running(id);
}

void remove_quietly(const std::string& file) {
  std::error_code ignored;
  if (!file.empty()) std::filesystem::remove(file, ignored);
}

void remove_stale_files(const std::vector<Output>& outputs) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
    const std::string file = entry.path().filename().string();
    for (const Output& out : outputs) {
      if (stale(file, out.name)) remove_quietly(file);
    }
  }
}

// The old file kept under `backup`; empty when there is none to keep (no
// file, or a folder, which no rename replaces).
std::string keep_old(const char* name, const std::string& backup, std::string& problem) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(name, error);
  if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) return {};
  std::filesystem::create_hard_link(name, backup, error);
  if (error) std::filesystem::copy_file(name, backup, error);
  if (!error) return backup;
  problem = std::string("cannot keep a copy of the old ") + name + ": " + error.message();
  return {};
}

// Outputs [0, renamed) back as they were; false, naming in `problem` what
// could not be put back, when a backup has to stay.
bool put_back(const std::vector<Output>& outputs, const std::vector<Names>& names, std::size_t renamed,
              std::string& problem) {
  bool all = true;
  for (std::size_t k = 0; k < renamed; ++k) {
    std::error_code error;
    if (names[k].backup.empty()) {
      std::filesystem::remove(outputs[k].name, error);
    } else {
      std::filesystem::rename(names[k].backup, outputs[k].name, error);
    }
    if (error) {
      all = false;
      problem += std::string("; cannot put back the old ") + outputs[k].name +
                 (names[k].backup.empty() ? "" : " (it is in " + names[k].backup + ")") + ": " + error.message();
    }
  }
  return all;
}

// Writes every output, then puts them all in place and reports them, or
// leaves the folder as it was; returns the exit code.
int write_outputs(const std::vector<Output>& outputs) {
  remove_stale_files(outputs);
  std::vector<Names> names(outputs.size());
  const auto give_up = [&](std::size_t renamed, std::string problem) {
    const bool restored = put_back(outputs, names, renamed, problem);
    for (std::size_t k = 0; k < names.size(); ++k) {
      remove_quietly(names[k].temporary);
      if (restored || k >= renamed) remove_quietly(names[k].backup);
    }
    std::fprintf(stderr, "fir_gen: %s%s\n", problem.c_str(), restored ? "; nothing was replaced" : "");
    return 1;
  };
  const std::string tag = process_tag();
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    names[k].temporary = outputs[k].name + tag + temporary_suffix;
    if (const Status saved = save_signal(names[k].temporary, outputs[k].values); saved != Status::ok) {
      for (const Names& written : names) remove_quietly(written.temporary);
      return failed(saved, outputs[k].name);
    }
  }
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    std::string problem;
    names[k].backup = keep_old(outputs[k].name, outputs[k].name + tag + backup_suffix, problem);
    if (!problem.empty()) return give_up(0, problem);
  }
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    std::error_code error;
    std::filesystem::rename(names[k].temporary, outputs[k].name, error);
    if (error) {
      return give_up(k, "cannot rename " + names[k].temporary + " to " + outputs[k].name + ": " + error.message());
    }
    names[k].temporary.clear();
  }
  for (const Output& out : outputs) {
    std::printf("wrote %s (%zu %s)\n", out.name, out.values.size(), out.is_signal ? "samples" : "taps");
  }
  if (std::fflush(stdout) != 0) return give_up(outputs.size(), "cannot write standard output completely");
  for (const Names& kept : names) remove_quietly(kept.backup);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  GenOptions options;
  std::string error;
  if (!parse_gen_arguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "fir_gen: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(gen_help_text().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : failed(Status::file_error, "standard output");
  }
  if (options.version) {
    std::printf("fir_gen %s\n%s", FIR_BENCH_VERSION, tool_options::licence_notice);
    return std::fflush(stdout) == 0 ? 0 : failed(Status::file_error, "standard output");
  }
  // A file-size limit then fails a write instead of ending the program.
  if (!process_prepare()) return failed(Status::out_of_memory, "");
  std::vector<Output> outputs;
  if (const int code = make_outputs(options, outputs); code != 0) return code;
  return write_outputs(outputs);
}
