// The command lines of the companion tools (fir_gen, fir_sweep): options
// --name VALUE or --name=VALUE, each error one line naming the option.
#pragma once

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tool_options {

// The second line of each tool's --version.
inline constexpr const char* licence_notice =
    "This is free software; see COPYING: the GNU General Public License, version 2 or later, with no warranty.\n";

// A whole, non-negative number, all of `text`.
inline bool parse_count(std::string_view text, std::uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc{} && end == text.data() + text.size();
}

// An option that takes a value: what it expects (for the error message)
// and how it stores it in the tool's options; false when the value is
// malformed.
template <typename Options>
struct ValueOption {
  const char* expects;
  std::function<bool(std::string_view, Options&)> store;
};

// Reads `arguments` into `options`. `flag` takes the options without a
// value and returns false for a name it does not know; `values` has the
// others. False with a one-line `error` naming the option and the problem.
template <typename Options>
bool parse(const std::vector<std::string>& arguments, const std::map<std::string_view, ValueOption<Options>>& values,
           const std::function<bool(std::string_view, Options&)>& flag, Options& options, std::string& error) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    std::string_view value;
    bool has_value = false;
    if (const std::size_t equals = argument.find('='); argument.starts_with("--") && equals != std::string_view::npos) {
      value = argument.substr(equals + 1);
      argument = argument.substr(0, equals);
      has_value = true;
    }
    const auto option = values.find(argument);
    if (option == values.end()) {
      if (!has_value && flag(argument, options)) continue;
      error = "unknown option '" + std::string(argument) + "' (see --help)";
      return false;
    }
    if (!has_value) {
      if (i + 1 == arguments.size()) {
        error = std::string(argument) + ": needs a value: " + option->second.expects;
        return false;
      }
      value = arguments[++i];
    }
    if (!option->second.store(value, options)) {
      error = std::string(argument) + ": expected " + option->second.expects + ", got '" + std::string(value) + "'";
      return false;
    }
  }
  return true;
}

}  // namespace tool_options
