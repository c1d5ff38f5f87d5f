#pragma once
// Writes a file under a temporary name in its destination folder and renames it into place only
// when everything was written and flushed, so a failed or interrupted write never leaves a
// half-written file under the final name.
#include "store/msg/result.h"

#include <cstdio>
#include <functional>
#include <string>

namespace parvelle::msg {

// Calls `write` with a stream open on the temporary file; on success renames it to `path`
// (replacing an existing file), otherwise removes it and returns the failure. With `sync` the
// bytes reach the disk before the rename; without, the system writes them back in its own time.
Status writeFileAtomically(const std::string& path, const std::function<Status(std::FILE*)>& write,
                           bool sync = true);

} // namespace parvelle::msg
