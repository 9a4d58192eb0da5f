// Replacing a pair of files together, with the system refusing a call on
// the way: hard links that the file system does not have, a disk that fills
// under a copy, a look-up, a rename or a removal that fails. The linker's
// --wrap (see tests/CMakeLists.txt) sends the module's rename, linkat,
// write, lstat, unlink and flock through the injector below. Whatever
// fails, the folder ends as it was found, modes included, a symbolic link
// stays a link, and nothing the run made stays behind unless it is named.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "files/files.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace {

// A call that fails: the k-th call of one function from the start (every
// call for k = 0), with `error`.
struct Fault {
  const char* call;
  int at;
  int error;
};

struct Injector {
  std::vector<Fault> faults;
  std::map<std::string, int> calls;
  std::function<void()> before_flock;  // once, then cleared

  bool fails(const char* name) {
    const int count = ++calls[name];
    for (const Fault& f : faults) {
      if (std::strcmp(f.call, name) == 0 && (f.at == 0 || f.at == count)) {
        errno = f.error;
        return true;
      }
    }
    return false;
  }
};

Injector fault;

}  // namespace

// A wrapped call fails as the injector says, or is the real one.
#define FIR_FAILING(Result, name, key, Params, ...) \
  Result __real_##name Params;                      \
  Result __wrap_##name Params { return fault.fails(key) ? -1 : __real_##name(__VA_ARGS__); }

extern "C" {
FIR_FAILING(int, rename, "rename", (const char* from, const char* to), from, to)
FIR_FAILING(int, linkat, "linkat", (int from_dir, const char* from, int to_dir, const char* to, int flags), from_dir,
            from, to_dir, to, flags)
FIR_FAILING(ssize_t, write, "write", (int handle, const void* bytes, std::size_t size), handle, bytes, size)
FIR_FAILING(int, lstat, "lstat", (const char* path, struct stat* status), path, status)
FIR_FAILING(int, lstat64, "lstat", (const char* path, struct stat64* status), path, status)
FIR_FAILING(int, unlink, "unlink", (const char* path), path)
int __real_flock(int handle, int operation);
int __wrap_flock(int handle, int operation) {
  if (fault.before_flock) std::exchange(fault.before_flock, nullptr)();
  return __real_flock(handle, operation);
}
}

namespace {

using namespace test_support;

struct ReplaceCase {
  const char* name;
  std::vector<Fault> faults;
  bool input_is_link;  // input.txt a symbolic link to ../shared/input.txt
  bool replaced;       // the pair is replaced all the same
  std::size_t left = 0;  // entries the run kept that stay, each named
};
void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

class ReplaceFaults : public testing::TestWithParam<ReplaceCase> {
 protected:
  void TearDown() override { fault = Injector{}; }
};

// The protocol as fir_gen runs it, writing "new <target>" into each.
ReplaceOutcome replace_pair() {
  const std::string_view targets[] = {"input.txt", "fir.txt"};
  return replace_files(targets, {.write = [&](std::size_t k, OutputFile& file) {
                                   return output_write(file, "new " + std::string(targets[k]) + "\n");
                                 },
                                 .report = [] { return std::string(); }});
}

TEST_P(ReplaceFaults, LeaveTheFolderAsFoundOrReplaced) {
  const ReplaceCase& c = GetParam();
  TempDir dir;
  const std::filesystem::path work = dir.file("work");
  std::filesystem::create_directory(dir.file("shared"));
  std::filesystem::create_directory(work);
  write_file(dir.file("shared/input.txt"), "shared input\n");
  if (c.input_is_link) {
    std::filesystem::create_symlink("../shared/input.txt", work / "input.txt");
  } else {
    write_file((work / "input.txt").string(), "old input\n");
    std::filesystem::permissions(work / "input.txt", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  write_file((work / "fir.txt").string(), "old fir\n");
  const auto before = snapshot(work);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(work);
  fault = Injector{c.faults, {}, {}};
  const ReplaceOutcome outcome = replace_pair();
  const std::string problem = outcome.problem;
  EXPECT_EQ(outcome.replaced, c.replaced) << problem;
  fault = Injector{};
  std::filesystem::current_path(previous);
  EXPECT_EQ(read_file(dir.file("shared/input.txt")), "shared input\n");
  std::map<std::string, std::string> after = snapshot(work);
  ASSERT_EQ(outcome.left.size(), c.left) << problem;
  for (const std::string& left : outcome.left) EXPECT_EQ(after.erase(left.substr(0, left.find(':'))), 1u) << left;
  const std::map<std::string, std::string> replaced{{"fir.txt", "file new fir.txt\n"},
                                                    {"input.txt", "file new input.txt\n"}};
  EXPECT_EQ(after, c.replaced ? replaced : before) << problem;
  if (!c.input_is_link) {
    EXPECT_EQ(std::filesystem::status(work / "input.txt").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
}

// Another run that opens an output after this run created it, and writes
// it before this run takes its lock, keeps what it wrote: this run's
// refusal of the command removes nothing.
TEST(OutputRace, AFileAnotherRunWroteBeforeTheLockStays) {
  TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  fault.before_flock = [] {
    OutputFile other{.name = "t.tsv"};
    OutputFile* const outputs[] = {&other};
    open_outputs(outputs, {});
    EXPECT_TRUE(output_empty(other) && output_write(other, "the other run's table\n") && output_close(other));
  };
  OutputFile table{.name = "t.tsv"}, scale{.name = "nodir/s.tsv"};
  OutputFile* const outputs[] = {&table, &scale};
  open_outputs(outputs, {});
  EXPECT_EQ(scale.problem, OutputProblem::cannot_open);
  output_abandon(table);
  EXPECT_EQ(read_file("t.tsv"), "the other run's table\n");
  std::filesystem::current_path(previous);
}

// Calls in order: the look-ups of the two targets; the two new files'
// writes; per old entry a hard link (or, without one, a copy: a write, or
// a new link for a symbolic link); the two renames; the renames that put
// entries back; the removals of the kept entries.
INSTANTIATE_TEST_SUITE_P(
    Table, ReplaceFaults,
    testing::Values(
        ReplaceCase{"NoHardLinksCopies", {{"linkat", 0, EPERM}}, false, true},
        ReplaceCase{"NoHardLinksCopiesALink", {{"linkat", 0, EPERM}}, true, true},
        ReplaceCase{"NewFileCannotBeWritten", {{"write", 2, ENOSPC}}, false, false},
        ReplaceCase{"NoHardLinksAndTheCopyFillsTheDisk", {{"linkat", 0, EPERM}, {"write", 4, ENOSPC}}, false, false},
        ReplaceCase{"FirstRenameFails", {{"rename", 1, EACCES}}, false, false},
        ReplaceCase{"SecondRenameFails", {{"rename", 2, EXDEV}}, false, false},
        ReplaceCase{"NoHardLinksThenSecondRenameFailsALinkStays", {{"linkat", 0, EPERM}, {"rename", 2, EXDEV}}, true,
                    false},
        ReplaceCase{"NoHardLinksThenSecondRenameFails", {{"linkat", 0, EPERM}, {"rename", 2, EXDEV}}, false, false},
        ReplaceCase{"LookUpOfTheOldFileFails", {{"lstat", 1, EIO}, {"rename", 2, EXDEV}}, false, false},
        ReplaceCase{"KeptEntriesCannotBeRemoved", {{"unlink", 0, EACCES}}, false, true, 2}),
    [](const testing::TestParamInfo<ReplaceCase>& row) { return std::string(row.param.name); });

}  // namespace
