#pragma once
// Writes a new file so that a failed or interrupted write never leaves a half-written file that
// looks usable: under a temporary name in its destination folder, renamed into place only when
// everything was written, or straight into an empty file the caller reserved for it and removes
// when the write fails (platform::FileTarget).
#include "platform/file_target.h"
#include "store/msg/result.h"

#include <cstdio>
#include <functional>
#include <string>

namespace parvelle::msg {

// Calls `write` with a stream open on the file. Without a reserved descriptor the stream is on a
// temporary file that is renamed to the target's path on success (replacing an existing file)
// and removed otherwise. With `sync` the bytes reach the disk before the write counts as done;
// without, the system writes them back in its own time.
Status writeFile(const platform::FileTarget& target, const std::function<Status(std::FILE*)>& write,
                 bool sync = true);

} // namespace parvelle::msg
