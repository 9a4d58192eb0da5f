// Tests that run once per row of the kernel table, with the stages set to
// that row.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/kernels.h"

namespace test_support {

// Every row built into the program, by name, for INSTANTIATE_TEST_SUITE_P.
inline auto kernel_rows() {
  std::vector<std::string> names;
  for (const Kernels& row : kernel_table()) names.emplace_back(row.name);
  return testing::ValuesIn(names);
}

inline std::string kernel_row_name(const testing::TestParamInfo<std::string>& info) { return info.param; }

// A fixture whose tests run on the row its parameter names, skipped where
// this processor lacks the instruction set; the choice is restored after.
class WithKernelRow : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!use_kernels(GetParam())) GTEST_SKIP() << GetParam() << ": this processor lacks it";
  }
  void TearDown() override { use_kernels(previous_); }

 private:
  std::string previous_ = active_kernels().name;
};

}  // namespace test_support
