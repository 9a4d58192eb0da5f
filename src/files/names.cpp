// The names of a replacement's files: <target>.<process id>.<16 hex
// digits>.tmp for a new file, .old for a kept entry, and how another run's
// are found.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/files.h"
#include "files/files_internal.h"

namespace files_detail {

// ".<process id>.<16 hex digits>": the digits mix the clock with the
// attempt (splitmix64), so that two runs started at once differ; the
// exclusive creation, not the digits, keeps them apart.
std::string tag(int attempt) {
  std::uint64_t mixed = static_cast<std::uint64_t>(counter_ticks()) + 0x9E3779B97F4A7C15u * std::uint64_t(attempt + 1);
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
  mixed ^= mixed >> 31;
  char text[40];
  std::snprintf(text, sizeof text, ".%u.%016llx", static_cast<unsigned>(process_id()),
                static_cast<unsigned long long>(mixed));
  return text;
}

}  // namespace files_detail

using namespace files_detail;

namespace {

// Whether `name` is <target>.<digits>.<16 hex digits> followed by `suffix`.
bool made_by_a_run(std::string_view name, std::string_view target, std::string_view suffix) {
  if (!name.starts_with(target) || !name.ends_with(suffix)) return false;
  const std::string_view tag = name.substr(target.size(), name.size() - target.size() - suffix.size());
  const auto digits = [](std::string_view text, std::string_view allowed) {
    return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
  };
  if (!tag.starts_with('.') || tag.size() < 19) return false;
  const std::string_view hex = tag.substr(tag.size() - 16);
  const std::string_view id = tag.substr(1, tag.size() - 18);
  return tag[tag.size() - 17] == '.' && digits(id, "0123456789") && digits(hex, "0123456789abcdef");
}

}  // namespace

std::vector<std::string> replacement_leftovers(std::span<const std::string_view> targets) {
  std::vector<std::string> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(".", error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    for (const std::string_view target : targets) {
      if (made_by_a_run(name, target, backup_suffix)) {
        found.push_back(name + " (the earlier " + std::string(target) + ")");
      } else if (made_by_a_run(name, target, temporary_suffix)) {
        found.push_back(name + " (a new " + std::string(target) + ", perhaps unfinished)");
      }
    }
  }
  return found;
}
