// The documents kept honest: each tool's man page names exactly the options
// its --help prints, every relative link of README.md and doc/*.md names a
// file that exists, and the tutorial's shell blocks run, in order, with the
// built programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace test_support;
namespace fs = std::filesystem;

const fs::path source = FIR_BENCH_SOURCE_DIR;

// Every --option in `text`.
std::set<std::string> options_in(const std::string& text) {
  static const std::regex option("--[a-z][a-z-]*[a-z]");
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it) {
    found.insert(it->str());
  }
  return found;
}

class ManPageOptions : public testing::TestWithParam<const char*> {};

TEST_P(ManPageOptions, AreThoseOfHelp) {
  TempDir dir;
  const ProcessResult help = run_command(program(GetParam(), {"--help"}), dir.path().string(), {});
  ASSERT_EQ(help.exit_code, 0);
  std::string page = read_file((source / "man" / (std::string(GetParam()) + ".1")).string());
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
  EXPECT_EQ(options_in(page), options_in(help.console));
}

INSTANTIATE_TEST_SUITE_P(Tools, ManPageOptions, testing::Values("fir_gen", "fir_sweep"));

TEST(DocumentLinks, NameFilesThatExist) {
  std::vector<fs::path> documents{source / "README.md"};
  for (const auto& entry : fs::directory_iterator(source / "doc")) {
    if (entry.path().extension() == ".md") documents.push_back(entry.path());
  }
  static const std::regex link(R"(\]\(([^)\s]+)\))");
  for (const fs::path& document : documents) {
    const std::string text = read_file(document.string());
    for (auto it = std::sregex_iterator(text.begin(), text.end(), link); it != std::sregex_iterator(); ++it) {
      std::string target = (*it)[1];
      if (target.starts_with("http") || target.starts_with("#") || target.starts_with("mailto:")) continue;
      target = target.substr(0, target.find('#'));
      EXPECT_TRUE(fs::exists(document.parent_path() / target)) << document.filename() << ": " << target;
    }
  }
}

// The tutorial's blocks as one script, run with the programs as installed
// (bin/ and share/fir_bench/ of one prefix) and from the build folder.
class Tutorial : public testing::TestWithParam<bool> {};

TEST_P(Tutorial, ShellBlocksRunInOrder) {
  const bool installed = GetParam();
  TempDir dir;
  fs::path bin = FIR_BENCH_BUILD_DIR, share = source / "tools";
  if (installed) {
    bin = dir.path() / "prefix/bin", share = dir.path() / "prefix/share/fir_bench";
    fs::create_directories(bin);
    fs::create_directories(share);
    for (const char* name : {"fir_bench", "fir_gen", "fir_sweep"}) {
      fs::create_symlink(fs::path(FIR_BENCH_BUILD_DIR) / name, bin / name);
    }
    fs::create_symlink(source / "tools/plot.gp", share / "plot.gp");
    fs::create_symlink(source / "tools/sweep.gp", share / "sweep.gp");
  }
  const std::string tutorial = read_file((source / "doc/tutorial.md").string());
  static const std::regex block("```sh\n([^`]*)```");
  std::string script = "set -euo pipefail\n";
  for (auto it = std::sregex_iterator(tutorial.begin(), tutorial.end(), block); it != std::sregex_iterator(); ++it) {
    script += (*it)[1].str();
  }
  write_file(dir.file("tutorial.sh"), script);
  ProcessOptions options;
  options.environment = {{"PATH", bin.string() + ":" + std::getenv("PATH")}, {"FIR_SHARE", share.string()}};
  options.time_limit_seconds = 120;
  const ProcessResult run = run_command({"bash", "tutorial.sh"}, dir.path().string(), options);
  EXPECT_EQ(run.exit_code, 0) << run.console << run.errors;
  EXPECT_TRUE(fs::exists(dir.file("fir-tutorial/table.tsv"))) << script;
}

INSTANTIATE_TEST_SUITE_P(Programs, Tutorial, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& row) { return row.param ? "Installed" : "BuildFolder"; });

}  // namespace
