// What the files module's two sources share.
#pragma once

#include <string>
#include <string_view>

#include "files/files.h"

namespace files_detail {

// Whether two identities are one file, whatever its kind.
bool identical(const FileIdentity& a, const FileIdentity& b);

// The suffixes of a replacement's new files and kept entries.
inline constexpr std::string_view temporary_suffix = ".tmp";
inline constexpr std::string_view backup_suffix = ".old";

// ".<process id>.<16 hex digits>", different for each attempt.
std::string tag(int attempt);

// Locks an opened output when it is a regular file and checks that its
// name still reaches it; sets `held`. The problem when it cannot.
OutputProblem take_hold(OutputFile& out);

}  // namespace files_detail
