// Runs as the user nobody where permissions must bite (root passes every
// check; another user keeps its own, whom the owner's bits hold). nobody
// must reach the program wherever the checkout lies (/root and `mktemp -d`
// folders are 0700): it is copied once per test process into a folder that
// everyone may search. A launcher (qemu) lives in the machine's folders.
#pragma once

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace test_support {

inline constexpr uid_t nobody = 65534;

// In a forked child: becomes nobody when the tests run as root.
inline bool become_nobody() {
  return geteuid() != 0 || (setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0);
}

// A folder of mode 0755 below the first of TMPDIR, /tmp and /var/tmp that
// everyone may search to the root, removed with the copies at exit.
struct ProgramCopies {
  std::filesystem::path folder;
  std::map<std::string, std::string> made;  // program -> its copy
  ProgramCopies() {
    std::error_code ignored;
    for (const std::filesystem::path& base : {std::filesystem::temp_directory_path(ignored),
                                             std::filesystem::path("/tmp"), std::filesystem::path("/var/tmp")}) {
      bool searchable = base.is_absolute();
      std::filesystem::path walked;
      for (const auto& part : base) {
        struct stat status {};
        searchable = searchable && stat((walked /= part).c_str(), &status) == 0 && (status.st_mode & S_IXOTH) != 0;
      }
      std::string pattern = (base / "fir_bench_programs_XXXXXX").string();
      if (searchable && mkdtemp(pattern.data()) != nullptr && chmod(pattern.c_str(), 0755) == 0) {
        folder = pattern;
        return;
      }
    }
  }
  ~ProgramCopies() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
};

// `command` with its program (the word at `program_at`) replaced by a copy
// nobody can reach, when the tests run as root. Empty, with `reason`, when
// that cannot be arranged; the case then skips.
inline std::optional<std::vector<std::string>> command_for_nobody(std::vector<std::string> command,
                                                                  std::size_t program_at, std::string& reason) {
  if (geteuid() != 0) return command;
  const pid_t child = fork();
  if (child == 0) _exit(become_nobody() ? 0 : 1);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    reason = "this process may not become the user nobody";
    return std::nullopt;
  }
  static ProgramCopies copies;
  std::string& program = command.at(program_at);
  std::string& copy = copies.made[program];
  const std::filesystem::path target = copies.folder / std::filesystem::path(program).filename();
  std::error_code error = std::make_error_code(std::errc::no_such_file_or_directory);
  if (copy.empty() && !copies.folder.empty()) {
    std::filesystem::copy_file(program, target, std::filesystem::copy_options::overwrite_existing, error);
    if (!error && chmod(target.c_str(), 0755) != 0) error.assign(errno, std::generic_category());
    if (!error) copy = target.string();
  }
  if (copy.empty()) {
    reason = "no copy of " + program + " in a folder everyone may search (TMPDIR, /tmp, /var/tmp): " + error.message();
    return std::nullopt;
  }
  program = copy;
  return command;
}

}  // namespace test_support
