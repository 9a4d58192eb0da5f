// What the files module's two sources share.
#pragma once

#include <optional>
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

// Creates `out.name` exclusively, opens and holds it: 0, or the system's
// reason (EEXIST when the name is taken, EBUSY when another run holds the
// new file already).
int create_held(OutputFile& out);

// A copy of the file `name` as the new file `copy`, with `mode`, flushed to
// the disk: 0, or the reason, no copy left behind.
int copy_file(const std::string& name, const std::string& copy, std::optional<unsigned> mode);

}  // namespace files_detail
