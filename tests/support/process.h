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
  stalled,       // a pipe the test has filled: a write waits until finish_command drains it,
                 // or fails (EPIPE) once finish_command closes it unread
};

struct ProcessOptions {
  std::string stdin_bytes;
  bool stdin_held = false;                // standard input a pipe the test holds open until finish_command
  std::uint64_t address_space_limit = 0;  // bytes of virtual memory; 0: no limit
  std::uint64_t file_size_limit = 0;      // bytes any one file may hold; 0: no limit
  unsigned time_limit_seconds = 0;        // then the program is ended (SIGALRM); 0: no limit
  std::vector<std::pair<std::string, std::string>> environment;  // set in the child
  Stdout stdout_to = Stdout::file;
  std::size_t pipe_bytes = 0;
  bool unprivileged = false;  // run as the user nobody when the tests run as root (command_for_nobody)
};

// A program started and not yet waited for.
struct StartedProcess {
  pid_t pid = -1;
  std::vector<std::string> command;
  std::string in_path, out_path, err_path;  // the captures, unique to this start
  int input = -1, output = -1;             // the test's ends of held standard input and output
  ProcessOptions options;
};

// Starts `command` (the program, then its arguments) in `directory`. The
// address-space limit makes allocations fail as on a full machine.
inline StartedProcess start_command(const std::vector<std::string>& command, const std::string& directory,
                                    const ProcessOptions& options) {
  static int started = 0;
  const std::string tag = std::to_string(getpid()) + "." + std::to_string(++started);
  StartedProcess p{-1, command, directory + "/.stdin" + tag, directory + "/.stdout" + tag, directory + "/.stderr" + tag,
                   -1, -1, options};
  write_file(p.in_path, options.stdin_bytes);
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
  const bool out_piped = options.stdout_to == Stdout::pipe_dropped || options.stdout_to == Stdout::stalled;
  if ((options.stdin_held && pipe(in_pipe) != 0) || (out_piped && pipe(out_pipe) != 0)) return p;
  if (options.stdout_to == Stdout::stalled) {  // fill the pipe, so that the program's first write waits
    const char block[4096] = {};
    fcntl(out_pipe[1], F_SETFL, O_NONBLOCK);
    while (write(out_pipe[1], block, sizeof block) > 0) {
    }
    fcntl(out_pipe[1], F_SETFL, 0);
  }
  p.pid = fork();
  if (p.pid == 0) {
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
    const int in = options.stdin_held ? in_pipe[0] : open(p.in_path.c_str(), O_RDONLY);
    const int out = out_piped                           ? out_pipe[1]
                    : options.stdout_to == Stdout::full ? open("/dev/full", O_WRONLY)
                                                        : open(p.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(p.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    for (const int end : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]}) {
      if (end > 2) close(end);
    }
    if (options.stdout_to == Stdout::closed) close(1);
    if (options.unprivileged && !become_nobody()) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (in_pipe[0] != -1) close(in_pipe[0]);
  if (out_pipe[1] != -1) close(out_pipe[1]);
  p.input = in_pipe[1];
  p.output = out_pipe[0];
  return p;
}

// Ends held standard input (the program's wait returns), reads or drops its
// standard output as the options say, and waits for it. `drain`: a stalled
// output is read to its end; otherwise it is closed unread.
inline ProcessResult finish_command(StartedProcess& p, bool drain = true) {
  ProcessResult result{-1, {}, {}};
  if (p.input != -1) close(p.input);
  if (p.output != -1) {
    const bool dropped = p.options.stdout_to == Stdout::pipe_dropped;
    std::string taken;
    char buffer[4096];
    for (ssize_t n = 1; n > 0 && (dropped ? taken.size() < p.options.pipe_bytes : drain);) {
      n = read(p.output, buffer, dropped ? std::min(sizeof buffer, p.options.pipe_bytes - taken.size()) : sizeof buffer);
      if (n > 0) taken.append(buffer, static_cast<std::size_t>(n));
    }
    close(p.output);  // the reader goes away; the program's later writes fail
    if (p.options.stdout_to == Stdout::stalled) taken.erase(0, taken.find_first_not_of('\0'));
    result.console = taken;
  }
  int status = 0;
  if (p.pid > 0 && waitpid(p.pid, &status, 0) == p.pid && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (p.options.stdout_to == Stdout::file) result.console = read_file(p.out_path);
  result.console = as_this_builds_console(p.command, result.console);
  result.errors = as_this_builds_console(p.command, read_file(p.err_path));
  for (const std::string* path : {&p.in_path, &p.out_path, &p.err_path}) std::remove(path->c_str());
  return result;
}

inline ProcessResult run_command(const std::vector<std::string>& command, const std::string& directory,
                                 const ProcessOptions& options) {
  StartedProcess started = start_command(command, directory, options);
  return finish_command(started);
}

// A program that waits at its closing prompt until finish_command.
inline StartedProcess start_held(const std::vector<std::string>& command, const std::string& directory) {
  ProcessOptions options;
  options.stdin_held = true;
  return start_command(command, directory, options);
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
