// Every output of every program against hostile names: links that lead
// nowhere, in a loop, to another output or to an input; a second name of
// another output; other spellings of one name; a folder, a FIFO without a
// reader; a name too long; a folder that cannot be written or searched; a
// full disk. Whatever the name, a program never writes one file under two
// names or over a file it reads, creates nothing it does not report, and
// deletes nothing it did not make: each run either writes its outputs or
// refuses the name with its documented exit code and a message naming it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace test_support;
namespace fs = std::filesystem;

enum class Hostile {
  link_to_nothing, link_loop, link_to_output, link_to_input, second_name_of_output, dot_spelling, absolute_spelling,
  folder, fifo_without_reader, long_name, read_only_folder, unsearchable_folder, full_disk,
};

// One program with the files it reads and writes, in the order it opens
// its outputs. fir_sweep's outputs are named by --out and --scale, the
// others' are fixed.
struct Program {
  const char* name;
  std::vector<std::string> inputs, outputs;
};

const Program bench{"fir_bench", {"input.txt", "fir.txt"}, {"log.txt", "output_linear.txt", "output_fft.txt", "output_diff.txt"}};
const Program gen{"fir_gen", {}, {"input.txt", "fir.txt"}};
const Program sweep{"fir_sweep", {"in.txt", "h.txt"}, {"t.tsv", "s.tsv"}};

// A refused name is left as it was; fir_gen, whose renames replace
// entries, replaces what it does not refuse by a regular file.
struct HostileCase {
  const Program* program;
  std::size_t output;  // which of its outputs gets the hostile name
  Hostile hostile;
  int exit_code;
};

std::string case_name(const HostileCase& c) {
  static const char* const names[] = {"LinkToNothing", "LinkLoop", "LinkToOutput", "LinkToInput", "SecondName",
                                      "DotSpelling", "AbsoluteSpelling", "Folder", "Fifo", "LongName",
                                      "ReadOnlyFolder", "UnsearchableFolder", "FullDisk"};
  std::string output = c.program->outputs[c.output];
  std::erase_if(output, [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); });
  return std::string(c.program->name).substr(4) + "_" + output + "_" + names[static_cast<int>(c.hostile)];
}
void PrintTo(const HostileCase& c, std::ostream* os) { *os << case_name(c); }

class HostileNames : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileNames, RefusedOrWrittenNeverLost) {
  const HostileCase& c = GetParam();
  const Program& p = *c.program;
  const bool unprivileged = c.hostile == Hostile::read_only_folder || c.hostile == Hostile::unsearchable_folder;
  if (windows_programs() && (unprivileged || c.hostile == Hostile::fifo_without_reader || c.hostile == Hostile::full_disk)) {
    GTEST_SKIP() << "POSIX permissions, FIFOs and file-size limits do not reach a Windows program under Wine";
  }
  std::string reason;
  std::optional<std::vector<std::string>> command = program(p.name);
  if (unprivileged && !(command = command_for_nobody(*command, launcher().size(), reason))) GTEST_SKIP() << reason;
  TempDir dir;
  const fs::path work = dir.path();
  fs::permissions(work, fs::perms::all);  // nobody may write here
  std::string values;  // long enough that every output but the log passes the full disk's 512 bytes
  for (int k = 0; k < 300; ++k) values += "0.25\r\n";
  for (const std::string& input : p.inputs) write_file(dir.file(input), values);
  const std::string target = p.outputs[c.output];
  const std::string other = p.outputs[(c.output + 1) % p.outputs.size()];
  std::vector<std::string> spelled = p.outputs;  // as the command names each output
  switch (c.hostile) {
    case Hostile::link_to_nothing:
      fs::create_symlink("nowhere.txt", work / target);
      break;
    case Hostile::link_loop:
      fs::create_symlink(target, work / target);
      break;
    case Hostile::link_to_output:
      write_file(dir.file(other), "other\r\n");
      fs::create_symlink(other, work / target);
      break;
    case Hostile::link_to_input:
      fs::create_symlink(p.inputs.front(), work / target);
      break;
    case Hostile::second_name_of_output:
      write_file(dir.file(other), "other\r\n");
      fs::create_hard_link(work / other, work / target);
      break;
    case Hostile::dot_spelling:
      spelled[c.output] = "./" + other;
      break;
    case Hostile::absolute_spelling:
      spelled[c.output] = dir.file(other);
      break;
    case Hostile::folder:
      fs::create_directories(work / target / "inside");
      break;
    case Hostile::fifo_without_reader:
      ASSERT_EQ(mkfifo(dir.file(target).c_str(), 0666), 0);
      break;
    case Hostile::long_name:
      spelled[c.output] = std::string(300, 'n');
      break;
    case Hostile::read_only_folder:
    case Hostile::unsearchable_folder:
      if (p.name == sweep.name) {
        fs::create_directory(work / "sub");
        spelled[c.output] = "sub/" + target;
      }
      fs::permissions(p.name == sweep.name ? work / "sub" : work,
                      c.hostile == Hostile::read_only_folder ? fs::perms::owner_read | fs::perms::owner_exec |
                                                                   fs::perms::others_read | fs::perms::others_exec
                                                             : fs::perms::owner_read | fs::perms::others_read);
      break;
    case Hostile::full_disk:
      break;
  }
  if (p.name == gen.name) command->insert(command->end(), {"--length", "300", "--taps", "3"});
  if (p.name == sweep.name) {
    command->insert(command->end(),
                    {"--input", "in.txt", "--fir", "h.txt", "--repeat", "1", "--out", spelled[0], "--scale", spelled[1]});
  }
  const auto before = snapshot(work);
  ProcessOptions options;
  options.unprivileged = unprivileged;
  options.file_size_limit = c.hostile == Hostile::full_disk ? 512 : 0;
  options.time_limit_seconds = 30;
  const ProcessResult run = run_command(*command, work.string(), options);
  fs::permissions(work / (p.name == sweep.name && unprivileged ? "sub" : ""), fs::perms::all);
  const std::string said = run.console + run.errors;
  EXPECT_EQ(run.exit_code, c.exit_code) << said;
  for (const std::string& input : p.inputs) EXPECT_EQ(describe(work / input), "file " + values) << input;
  // Nothing appears but outputs: those fir_bench could write, a sweep's
  // table cut short, what a run that succeeded wrote. A link's target is
  // not created through it; a refused command makes nothing.
  const auto after = snapshot(work);
  const bool wrote = p.name == bench.name || run.exit_code == 0 || (p.name == sweep.name && run.exit_code == 1);
  for (const auto& [name, what] : after) {
    const bool output = std::find(p.outputs.begin(), p.outputs.end(), name) != p.outputs.end();
    EXPECT_TRUE(before.contains(name) || (wrote && output)) << name << " appeared: " << said;
  }
  // The refused name is named: a result of fir_bench's, or the name as the
  // command spells it (for two names of one file, either).
  const bool pair = c.hostile == Hostile::link_to_output || c.hostile == Hostile::second_name_of_output ||
                    c.hostile == Hostile::dot_spelling || c.hostile == Hostile::absolute_spelling;
  if (c.exit_code != 0) {
    const std::string named = p.name == bench.name && (c.output == 0 || unprivileged || c.hostile == Hostile::full_disk)
                                  ? "output_linear.txt"
                                  : spelled[c.output];
    EXPECT_TRUE(said.find(named) != std::string::npos || (pair && said.find(other) != std::string::npos)) << said;
  }
  if (!before.contains(target)) return;
  if (p.name == gen.name && c.exit_code == 0) {
    EXPECT_TRUE(describe(work / target).starts_with("file ")) << describe(work / target);
    return;
  }
  EXPECT_EQ(describe(work / target), before.at(target)) << said;
  if (pair && before.contains(other)) {
    EXPECT_EQ(describe(work / other), before.at(other)) << said;
  }
}

// The cases of each program: what every hostile name does to each output.
std::vector<HostileCase> all_cases() {
  std::vector<HostileCase> cases;
  const Hostile placed[] = {Hostile::link_to_nothing, Hostile::link_loop,  Hostile::link_to_output,
                            Hostile::link_to_input,   Hostile::second_name_of_output, Hostile::folder,
                            Hostile::fifo_without_reader};
  for (std::size_t k = 0; k < bench.outputs.size(); ++k) {
    for (const Hostile h : placed) {
      // The log is skipped without a word when it cannot be used; a link
      // or second name shared with a result refuses that result.
      const bool shared = h == Hostile::link_to_output || h == Hostile::second_name_of_output;
      cases.push_back({&bench, k, h, k > 0 || shared ? 2 : 0});
    }
  }
  for (std::size_t k = 0; k < gen.outputs.size(); ++k) {
    for (const Hostile h : placed) {
      if (h == Hostile::link_to_input) continue;  // fir_gen reads nothing
      // Wine cannot look at a link in a loop without following it, so it
      // cannot keep it either: that name is refused.
      const bool unseen = h == Hostile::link_loop && windows_programs();
      cases.push_back({&gen, k, h, h == Hostile::folder || unseen ? 1 : 0});
    }
  }
  for (std::size_t k = 0; k < sweep.outputs.size(); ++k) {
    for (const Hostile h : placed) cases.push_back({&sweep, k, h, 2});
    for (const Hostile h : {Hostile::dot_spelling, Hostile::absolute_spelling, Hostile::long_name,
                            Hostile::read_only_folder, Hostile::unsearchable_folder}) {
      cases.push_back({&sweep, k, h, 2});
    }
  }
  cases.insert(cases.end(), {{&bench, 0, Hostile::read_only_folder, 2}, {&gen, 0, Hostile::read_only_folder, 1},
                             {&bench, 1, Hostile::full_disk, 2}, {&gen, 0, Hostile::full_disk, 1},
                             {&sweep, 0, Hostile::full_disk, 1}});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Matrix, HostileNames, testing::ValuesIn(all_cases()),
                         [](const testing::TestParamInfo<HostileCase>& row) { return case_name(row.param); });

}  // namespace
