#include "cli/pst_commands.h"

#include "store/pst/checker.h"
#include "store/pst/inspect.h"

#include <cstdio>
#include <optional>

namespace parvelle::cli {

namespace {

struct PstArgs {
    std::string file;
    bool json = false;
    bool items = false;
};

// Reads FILE and the flags a command accepts; prints the reason and returns nullopt when the
// arguments are wrong.
std::optional<PstArgs> parseArgs(const std::vector<std::string>& args, const char* command,
                                 bool acceptsItems) {
    PstArgs parsed;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "--items" && acceptsItems) {
            parsed.items = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "%s does not know the option \"%s\".\n", command, arg.c_str());
            return std::nullopt;
        } else if (parsed.file.empty()) {
            parsed.file = arg;
        } else {
            std::fprintf(stderr, "%s takes one file.\n", command);
            return std::nullopt;
        }
    }
    if (parsed.file.empty()) {
        std::fprintf(stderr, "%s needs the PST file to read.\n", command);
        return std::nullopt;
    }
    return parsed;
}

} // namespace

int runCheckPst(const std::vector<std::string>& args) {
    const auto parsed = parseArgs(args, "check-pst", false);
    if (!parsed)
        return 2;
    const auto db = pst::NodeDatabase::open(parsed->file);
    if (!db) {
        std::fprintf(stderr, "%s\n", db.error().c_str());
        return 1;
    }
    const pst::CheckReport report = pst::checkStore(*db);
    const std::string out = parsed->json ? pst::reportToJson(parsed->file, report)
                                         : pst::reportToText(parsed->file, report);
    std::fputs(out.c_str(), stdout);
    return report.clean() ? 0 : 1;
}

int runPstInfo(const std::vector<std::string>& args) {
    const auto parsed = parseArgs(args, "pst-info", true);
    if (!parsed)
        return 2;
    const auto store = pst::PstReader::open(parsed->file);
    if (!store) {
        std::fprintf(stderr, "%s\n", store.error().c_str());
        return 1;
    }
    const auto summary = pst::inspectStore(*store, parsed->items);
    if (!summary) {
        std::fprintf(stderr, "%s: %s.\n", parsed->file.c_str(), summary.error().c_str());
        return 1;
    }
    const std::string out = parsed->json ? pst::summaryToJson(*summary, parsed->items)
                                         : pst::summaryToText(*summary, parsed->items);
    std::fputs(out.c_str(), stdout);
    return summary->problems.empty() ? 0 : 1;
}

} // namespace parvelle::cli
