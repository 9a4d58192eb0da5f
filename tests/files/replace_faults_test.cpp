// Replacing a pair of files together, with the system refusing a call on
// the way: hard links that the file system does not have, a disk that fills
// under a copy, a rename that fails. The linker's --wrap (see
// tests/CMakeLists.txt) sends the module's rename, linkat and write through
// the injector below. Whatever fails, the folder ends as it was found, a
// symbolic link stays a link, and nothing the run made stays behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "files/files.h"
#include "support/files.h"
#include "support/temp_dir.h"

extern "C" {
int __real_rename(const char* from, const char* to);
int __real_linkat(int from_dir, const char* from, int to_dir, const char* to, int flags);
ssize_t __real_write(int handle, const void* bytes, std::size_t size);
}

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

extern "C" {
int __wrap_rename(const char* from, const char* to) { return fault.fails("rename") ? -1 : __real_rename(from, to); }
int __wrap_linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  return fault.fails("linkat") ? -1 : __real_linkat(from_dir, from, to_dir, to, flags);
}
ssize_t __wrap_write(int handle, const void* bytes, std::size_t size) {
  return fault.fails("write") ? -1 : __real_write(handle, bytes, size);
}
}

namespace {

using namespace test_support;

struct ReplaceCase {
  const char* name;
  std::vector<Fault> faults;
  bool input_is_link;  // input.txt a symbolic link to ../shared/input.txt
  bool replaced;       // the pair is replaced all the same
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
  }
  write_file((work / "fir.txt").string(), "old fir\n");
  const auto before = snapshot(work);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(work);
  fault = Injector{c.faults, {}};
  const ReplaceOutcome outcome = replace_pair();
  const std::string problem = outcome.problem;
  EXPECT_EQ(outcome.replaced, c.replaced) << problem;
  fault = Injector{};
  std::filesystem::current_path(previous);
  EXPECT_EQ(read_file(dir.file("shared/input.txt")), "shared input\n");
  const std::map<std::string, std::string> replaced{{"fir.txt", "file new fir.txt\n"},
                                                    {"input.txt", "file new input.txt\n"}};
  EXPECT_EQ(snapshot(work), c.replaced ? replaced : before) << problem;
}

// Calls in order: the two new files' writes; per old entry a hard link (or,
// without one, a copy: a write, or a new link for a symbolic link); the two
// renames; the renames that put entries back.
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
                    false}),
    [](const testing::TestParamInfo<ReplaceCase>& row) { return std::string(row.param.name); });

}  // namespace
