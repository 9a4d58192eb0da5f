// What the files module's two sources share.
#pragma once

#include "files/files.h"

namespace files_detail {

// Whether two identities are one file, whatever its kind.
bool identical(const FileIdentity& a, const FileIdentity& b);

// Locks an opened output when it is a regular file and checks that its
// name still reaches it; sets `held`. The problem when it cannot.
OutputProblem take_hold(OutputFile& out);

}  // namespace files_detail
