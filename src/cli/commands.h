#pragma once
#include <string>
#include <vector>

namespace parvelle::cli {

struct Command {
    const char* name;
    int (*run)(const std::vector<std::string>& args);
};

// Every command of the command line, in the order of its help text.
const std::vector<Command>& commands();

int runScan(const std::vector<std::string>& args);
int runList(const std::vector<std::string>& args);

} // namespace parvelle::cli
