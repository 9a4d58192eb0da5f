// Runs a program the way a user would: in a given working directory, with
// given bytes on standard input, capturing standard output and the exit code.
// POSIX only: the end-to-end suites run on the build machine.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cp1251/cp1251.h"
#include "support/files.h"
#include "support/unprivileged.h"

namespace test_support {

// ---- The programs under test ------------------------------------------------------
//
// This build's programs, or, when the environment says so, another build's
// started through a launcher: FIR_BENCH_PROGRAMS names their folder and
// FIR_BENCH_LAUNCHER the command that starts them (Wine for a Windows build,
// qemu for a 32-bit Linux one; words separated by blanks). A Windows
// program's console (Windows-1251, CR LF) is read back as this build's
// (UTF-8, LF).

inline std::vector<std::string> launcher() {
  std::vector<std::string> words;
  if (const char* text = std::getenv("FIR_BENCH_LAUNCHER")) {
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(word);
  }
  return words;
}

// Whether the programs run under a launcher; end-to-end cases that cannot
// hold there skip.
inline bool launched() { return !launcher().empty(); }

// The command that starts program `name` (fir_bench, fir_gen, fir_sweep)
// with `arguments`.
inline std::vector<std::string> program(const std::string& name, const std::vector<std::string>& arguments = {}) {
  const char* folder = std::getenv("FIR_BENCH_PROGRAMS");
  const std::filesystem::path dir = folder != nullptr ? folder : FIR_BENCH_BUILD_DIR;
  std::filesystem::path path = dir / name;
  if (!std::filesystem::exists(path)) path += ".exe";
  std::vector<std::string> command = launcher();
  command.push_back(path.string());
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

// program(), started so that the user nobody can reach it (unprivileged.h),
// for a run with ProcessOptions::unprivileged; empty, with `reason`, when
// that cannot be arranged.
inline std::optional<std::vector<std::string>> unprivileged_program(const std::string& name,
                                                                    const std::vector<std::string>& arguments,
                                                                    std::string& reason) {
  return command_for_nobody(program(name, arguments), launcher().size(), reason);
}

// Whether the programs under test are Windows programs.
inline bool windows_programs() { return program("fir_bench")[launcher().size()].ends_with(".exe"); }

// A Windows program's console text (standard output or error) as this
// build's program shows it.
inline std::string as_this_builds_console(const std::vector<std::string>& command, std::string text) {
  for (const std::string& word : command) {
    if (word.ends_with(".exe")) {
      std::erase(text, '\r');
      return cp1251::to_utf8(text);
    }
  }
  return text;
}

struct ProcessResult {
  int exit_code;        // -1 when the program did not exit normally
  std::string console;  // what was written to standard output (read of it)
  std::string errors;   // everything written to standard error
};

// Where the child's standard output goes.
enum class Stdout {
  file,          // captured whole
  closed,        // descriptor 1 closed before the program starts
  pipe_dropped,  // a pipe whose reader takes `pipe_bytes` bytes, then closes it
  full,          // the full device: every write fails (ENOSPC)
};

struct ProcessOptions {
  std::string stdin_bytes;
  std::uint64_t address_space_limit = 0;  // bytes of virtual memory; 0: no limit
  std::uint64_t file_size_limit = 0;      // bytes any one file may hold; 0: no limit
  unsigned time_limit_seconds = 0;        // then the program is ended (SIGALRM); 0: no limit
  std::vector<std::pair<std::string, std::string>> environment;  // set in the child
  Stdout stdout_to = Stdout::file;
  std::size_t pipe_bytes = 0;
  bool unprivileged = false;  // run as the user nobody when the tests run as root (unprivileged_program)
};

// Runs `command` (the program, then its arguments) in `directory`. The
// address-space limit makes allocations fail as on a full machine.
inline ProcessResult run_command(const std::vector<std::string>& command, const std::string& directory,
                                 const ProcessOptions& options) {
  const std::string in_path = directory + "/.stdin";
  const std::string out_path = directory + "/.stdout";
  const std::string err_path = directory + "/.stderr";
  write_file(in_path, options.stdin_bytes);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  ProcessResult result{-1, {}, {}};
  int pipe_ends[2] = {-1, -1};
  if (options.stdout_to == Stdout::pipe_dropped && pipe(pipe_ends) != 0) return result;
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    if (options.address_space_limit != 0) {
      const rlimit limit{options.address_space_limit, options.address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    if (options.file_size_limit != 0) {
      const rlimit limit{options.file_size_limit, options.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (options.time_limit_seconds != 0) alarm(options.time_limit_seconds);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = options.stdout_to == Stdout::pipe_dropped ? pipe_ends[1]
                    : options.stdout_to == Stdout::full       ? open("/dev/full", O_WRONLY)
                                                              : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (options.stdout_to == Stdout::pipe_dropped) close(pipe_ends[0]);
    if (options.stdout_to == Stdout::closed) close(1);
    if (options.unprivileged && !become_nobody()) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (options.stdout_to == Stdout::pipe_dropped) {
    close(pipe_ends[1]);
    std::string taken(options.pipe_bytes, '\0');
    std::size_t got = 0;
    while (got < taken.size()) {
      const ssize_t n = read(pipe_ends[0], taken.data() + got, taken.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    close(pipe_ends[0]);  // the reader goes away; the program's later writes fail
    taken.resize(got);
    result.console = taken;
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (options.stdout_to == Stdout::file) result.console = read_file(out_path);
  result.console = as_this_builds_console(command, result.console);
  result.errors = as_this_builds_console(command, read_file(err_path));
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return result;
}

// A program started with its standard input a pipe that the test holds
// open, so that it waits at its closing prompt until finish_held.
struct HeldProcess {
  pid_t pid;
  int input;  // the pipe's write end
  std::string directory;
  std::vector<std::string> command;
};

inline HeldProcess start_held(const std::vector<std::string>& command, const std::string& directory) {
  int pipe_ends[2] = {-1, -1};
  if (pipe(pipe_ends) != 0) return {-1, -1, directory, command};
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int out = open((directory + "/.stdout_held").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(directory.c_str()) != 0 || out < 0 || dup2(pipe_ends[0], 0) < 0 || dup2(out, 1) < 0) _exit(126);
    close(pipe_ends[1]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_ends[0]);
  return {child, pipe_ends[1], directory, command};
}

// Ends the held program's input, so its wait returns, and waits for it.
inline ProcessResult finish_held(HeldProcess& process) {
  close(process.input);
  ProcessResult result{-1, {}, {}};
  int status = 0;
  if (process.pid > 0 && waitpid(process.pid, &status, 0) == process.pid && WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  const std::string out_path = process.directory + "/.stdout_held";
  result.console = as_this_builds_console(process.command, read_file(out_path));
  std::remove(out_path.c_str());
  return result;
}

// fir_bench under test, in `directory`.
inline ProcessResult run_program(const std::string& directory, const std::string& stdin_bytes = "",
                                 std::uint64_t address_space_limit = 0) {
  ProcessOptions options;
  options.stdin_bytes = stdin_bytes;
  options.address_space_limit = address_space_limit;
  return run_command(program("fir_bench"), directory, options);
}

}  // namespace test_support
