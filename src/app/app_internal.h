// What the run's two sources share: its output to the console and the log.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "files/files.h"

namespace app_detail {

// "log.txt" holds the progress lines as Windows-1251 bytes with CR LF line
// ends on every system, kept in a buffer of its own and handed to the files
// module at each line end, a whole line in one write. When it cannot be
// opened, writes to it are dropped. A write that fails (a full disk, a
// file-size limit) leaves the log its whole lines, and nothing more is
// written to it; the run names it before it ends.
struct Log {
  OutputFile file;
  std::array<char, 512> pending{};
  std::size_t size = 0;

  void write(std::string_view text);
  void end_line();
  // Closed last: whatever the last line left unfinished goes out too.
  // False when a write or the close failed.
  bool close();

 private:
  void flush();
};

// Progress goes first to the console, then the same text to the log.
void say(Log& log, std::string_view text);
void say_line_end(Log& log);
void say_count(Log& log, std::size_t count);
void say_number(Log& log, double value);

// A line that says what went wrong, in the style of the file messages (a
// line end first): `message`, then the file's name when there is one; on
// the console and in the log, or, before the log is open or once it has
// failed, on the console only.
void say_failure(Log& log, std::string_view message, std::string_view file_name = {});
void tell_failure(std::string_view message, std::string_view file_name = {});

}  // namespace app_detail
