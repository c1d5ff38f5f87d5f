#pragma once
#include <string>
#include <vector>

#include "mailbox/job_state.h"

namespace parvelle::cli {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
};

// Every command of the command line, in the order of its help text.
const std::vector<Command>& commands();

// Checks that the archive can be read before a job starts, so that a missing or unreadable file
// is one plain sentence rather than an empty tree.
bool checkReadable(const std::string& path);
// Runs the scan job on the archive (Ctrl-C stops it) and saves the log when a file is named.
// Returns false, after saying why on stderr, when nothing could be read.
bool scanArchive(mailbox::JobState& state, const std::string& archive, const std::string& logFile,
                 bool& stopped);

int runScan(const std::vector<std::string>& args);
int runConvert(const std::vector<std::string>& args);
int runList(const std::vector<std::string>& args);

} // namespace parvelle::cli
