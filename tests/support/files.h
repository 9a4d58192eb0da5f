// Whole-file reads and writes as raw bytes, for tests and benchmarks.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace test_support {

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What an entry is: a link's text, a folder, a FIFO, or a file's bytes;
// "none" when nothing has that name.
inline std::string describe(const std::filesystem::path& entry) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::symlink_status(entry, error);
  if (error || !fs::exists(status)) return "none";
  if (fs::is_symlink(status)) return "link to " + fs::read_symlink(entry).string();
  if (fs::is_directory(status)) return "folder";
  if (fs::is_fifo(status)) return "fifo";
  return "file " + read_file(entry.string());
}

// Every entry of `folder` but the hidden ones (the test harness's), described.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(".")) entries[name] = describe(entry.path());
  }
  return entries;
}

}  // namespace test_support
