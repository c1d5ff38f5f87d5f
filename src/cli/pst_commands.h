#pragma once
// The PST inspection commands: `check-pst FILE [--json]` and `pst-info FILE [--json] [--items]`.
// Both take the arguments after the command name, print to stdout, report a failure as one plain
// sentence on stderr and return the exit code: 0 when all is well, 1 when the file is not a
// readable PST file or has problems, 2 for wrong arguments.
#include <string>
#include <vector>

namespace parvelle::cli {

int runCheckPst(const std::vector<std::string>& args);
int runPstInfo(const std::vector<std::string>& args);

} // namespace parvelle::cli
