// Runs a program the way a user would: in a given working directory, with
// given bytes on standard input, capturing standard output and the exit code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "support/files.h"

#if defined(_WIN32)
#include <cstdlib>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace test_support {

struct ProcessResult {
  int exit_code;        // -1 when the program did not exit normally
  std::string console;  // everything written to standard output
};

// `address_space_limit`, when not 0, caps the child's virtual memory in
// bytes (ignored on Windows), so that allocations fail as on a full machine.
inline ProcessResult run_program(const std::string& program, const std::string& directory,
                                 const std::string& stdin_bytes = "", std::uint64_t address_space_limit = 0) {
  const std::string in_path = directory + "/.stdin";
  const std::string out_path = directory + "/.stdout";
  write_file(in_path, stdin_bytes);
  ProcessResult result{-1, {}};
#if defined(_WIN32)
  const std::string command =
      "cd /d \"" + directory + "\" && \"" + program + "\" < .stdin > .stdout";
  (void)address_space_limit;
  result.exit_code = std::system(command.c_str());
#else
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(126);
    if (address_space_limit != 0) {
      const rlimit limit{address_space_limit, address_space_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
    }
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
#endif
  result.console = read_file(out_path);
  std::remove(in_path.c_str());
  std::remove(out_path.c_str());
  return result;
}

}  // namespace test_support
