#include "messages/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

using messages::failure_message;
using messages::Step;

// The compile-time encoder must give the Windows-1251 bytes themselves.
TEST(MessageBytes, AreWindows1251) {
  EXPECT_EQ(std::string(messages::milliseconds_suffix), " \xEC\xF1");
  EXPECT_EQ(std::string(messages::direct_stage),
            "\xEB\xE8\xED\xE5\xE9\xED\xE0\xFF \xF1\xE2\xB8\xF0\xF2\xEA\xE0...");
  EXPECT_EQ(std::string(messages::loading_filter),
            "\xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 FIR \xF4\xE8\xEB\xFC\xF2\xF0\xE0...");
}

// At every step each failing status says something of its own, and success
// says nothing: a status sent to another's text would tell the user a wrong
// reason.
TEST(FailureMessages, EachFailureHasItsOwnText) {
  const Status failures[] = {Status::file_error, Status::out_of_memory, Status::too_long, Status::fftw_failed};
  for (const Step step : {Step::start, Step::load, Step::direct, Step::fft, Step::compare, Step::save}) {
    EXPECT_TRUE(failure_message(Status::ok, step).empty());
    std::set<std::string_view> texts;
    for (const Status status : failures) {
      EXPECT_FALSE(failure_message(status, step).empty());
      texts.insert(failure_message(status, step));
    }
    EXPECT_EQ(texts.size(), std::size(failures)) << "step " << static_cast<int>(step);
  }
}

// The signal files' failures keep the texts the program has always printed.
TEST(FailureMessages, SignalFilesKeepTheirTexts) {
  EXPECT_EQ(std::string(failure_message(Status::file_error, Step::load)),
            "\xEE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8 \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE5 \xF4\xE0\xE9\xEB\xE0: ");
  EXPECT_EQ(std::string(failure_message(Status::file_error, Step::save)),
            "\xEE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8 \xE7\xE0\xEF\xE8\xF1\xE8 \xF4\xE0\xE9\xEB\xE0: ");
}

}  // namespace
