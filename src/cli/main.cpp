// parvelle-cli: the conversion engine from a terminal.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/datetime.h"

namespace {

void usage() {
    std::fputs(
        "usage: parvelle-cli COMMAND ...\n"
        "  scan ARCHIVE [--json] [--log FILE]           show the folder tree with item counts\n"
        "  list ARCHIVE --folder KEY [--json] [--log FILE]\n"
        "                                              show the item summaries of one folder\n"
        "  convert ARCHIVE [--to pst|msg|eml|rtf|html|pdf] --out DIR [--single-pst]\n"
        "          [--folder KEY]... [--log FILE]       save the archive's folders\n"
        "  convert ARCHIVE --into FILE.pst [--password P] [--folder KEY]... [--log FILE]\n"
        "                                              add the archive's folders to a PST\n"
        "  check-pst FILE [--json]                      check every structure of a PST file\n"
        "  pst-info FILE [--json] [--items]             show a PST file's folders and items\n",
        stderr);
}

} // namespace

int main(int argc, char** argv) {
    parvelle::platform::pinSystemTimeZone();
    std::setlocale(LC_ALL, "");
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        usage();
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const auto& entry : parvelle::cli::commands())
        if (command == entry.name)
            return entry.run(args);
    std::fprintf(stderr, "Unknown command \"%s\".\n", command.c_str());
    usage();
    return 2;
}
