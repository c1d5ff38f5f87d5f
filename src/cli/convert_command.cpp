// The convert command: scan an archive, check the folders to save, and run the save job into new
// PST files, an existing PST, or a tree of message files.
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "cli/cli_frontend.h"
#include "cli/commands.h"
#include "mailbox/progress_job.h"

namespace parvelle::cli {
namespace {

using namespace parvelle::mailbox;
namespace fs = std::filesystem;

struct ConvertOptions {
    std::string archive;
    SaveFormat format = SaveFormat::Pst;
    std::string outDir;
    std::string intoPst;
    std::string password;
    bool singlePst = false;
    std::vector<std::string> folderKeys;
    std::string logFile;
};

std::optional<SaveFormat> formatNamed(const std::string& name) {
    static const std::map<std::string, SaveFormat> kFormats = {
        {"pst", SaveFormat::Pst}, {"msg", SaveFormat::Msg},   {"eml", SaveFormat::Eml},
        {"rtf", SaveFormat::Rtf}, {"html", SaveFormat::Html}, {"pdf", SaveFormat::Pdf},
    };
    const auto it = kFormats.find(name);
    if (it == kFormats.end())
        return std::nullopt;
    return it->second;
}

std::optional<ConvertOptions> parseOptions(const std::vector<std::string>& args) {
    ConvertOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--to" && hasValue) {
            const auto format = formatNamed(args[++i]);
            if (!format) {
                std::fprintf(stderr,
                             "Unknown format \"%s\": use pst, msg, eml, rtf, html or pdf.\n",
                             args[i].c_str());
                return std::nullopt;
            }
            o.format = *format;
        } else if (a == "--out" && hasValue) {
            o.outDir = args[++i];
        } else if (a == "--into" && hasValue) {
            o.intoPst = args[++i];
        } else if (a == "--password" && hasValue) {
            o.password = args[++i];
        } else if (a == "--single-pst") {
            o.singlePst = true;
        } else if (a == "--folder" && hasValue) {
            o.folderKeys.push_back(args[++i]);
        } else if (a == "--log" && hasValue) {
            o.logFile = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "Unknown or incomplete option \"%s\".\n", a.c_str());
            return std::nullopt;
        } else if (o.archive.empty()) {
            o.archive = a;
        } else {
            std::fprintf(stderr, "Unexpected argument \"%s\".\n", a.c_str());
            return std::nullopt;
        }
    }
    if (o.archive.empty()) {
        std::fprintf(stderr, "Name the archive to convert.\n");
        return std::nullopt;
    }
    if (!o.intoPst.empty() && o.format != SaveFormat::Pst) {
        std::fprintf(stderr, "--into appends to a PST file; it cannot be used with --to %s.\n",
                     o.format == SaveFormat::Msg    ? "msg"
                     : o.format == SaveFormat::Eml  ? "eml"
                     : o.format == SaveFormat::Rtf  ? "rtf"
                     : o.format == SaveFormat::Html ? "html"
                                                    : "pdf");
        return std::nullopt;
    }
    if (o.intoPst.empty() && o.outDir.empty()) {
        std::fprintf(stderr, "Name the output folder with --out DIR (or a PST to add to with "
                             "--into FILE.pst).\n");
        return std::nullopt;
    }
    if (!o.intoPst.empty() && (!o.outDir.empty() || o.singlePst)) {
        std::fprintf(stderr, "--into cannot be combined with --out or --single-pst.\n");
        return std::nullopt;
    }
    return o;
}

// Leaves checked only the named folders with their subfolders, and the folders above them, as
// unchecking every other folder in the tree would.
bool checkOnly(JobState& state, const std::vector<std::string>& keys) {
    std::map<std::string, TreeItem> byKey;
    for (const auto& node : state.folderNodes)
        byKey.emplace(node.key, node.treeItem);
    std::vector<TreeItem> chosen;
    for (const std::string& key : keys) {
        const auto it = byKey.find(key);
        if (it == byKey.end()) {
            std::fprintf(stderr,
                         "The archive has no folder with the key \"%s\" (see the keys that "
                         "\"scan\" prints).\n",
                         key.c_str());
            return false;
        }
        chosen.push_back(it->second);
    }
    for (const TreeItem root : state.folderTree.roots())
        state.folderTree.setCheckedRecursive(root, false);
    for (const TreeItem item : chosen) {
        state.folderTree.setCheckedRecursive(item, true);
        for (TreeItem up = state.folderTree.node(item).parent; up != 0;
             up = state.folderTree.node(up).parent)
            state.folderTree.setChecked(up, true);
    }
    return true;
}

std::size_t countFiles(const std::string& dir) {
    std::size_t n = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec))
            ++n;
    return n;
}

} // namespace

int runConvert(const std::vector<std::string>& args) {
    const auto options = parseOptions(args);
    if (!options)
        return 2;
    JobState state;
    bool stopped = false;
    if (!scanArchive(state, options->archive, "", stopped))
        return 1;
    if (stopped) {
        std::fprintf(stderr, "The scan was stopped; nothing was saved.\n");
        return 1;
    }
    if (!options->folderKeys.empty() && !checkOnly(state, options->folderKeys))
        return 2;

    state.saveFormat = options->format;
    if (!options->intoPst.empty()) {
        if (!checkReadable(options->intoPst))
            return 1;
        state.newPst = 0;
        state.destinationPath = options->intoPst;
        state.pstPassword = options->password;
    } else {
        std::error_code ec;
        fs::create_directories(options->outDir, ec);
        if (ec || !fs::is_directory(options->outDir)) {
            std::fprintf(stderr, "Cannot create the output folder \"%s\".\n",
                         options->outDir.c_str());
            return 1;
        }
        state.newPst = 1;
        state.pstPerMailbox = options->singlePst ? 0 : 1;
        state.destinationPath = options->outDir;
    }

    CliFrontEnd frontEnd(state);
    installStopHandler(state);
    ProgressJob job(state, frontEnd, JobKind::Save);
    job.run();
    frontEnd.finishProgress();
    removeStopHandler();
    if (!options->logFile.empty() && !state.log.saveTo(logFileNameFor(options->logFile)))
        std::fprintf(stderr, "Cannot write the log file \"%s\".\n", options->logFile.c_str());
    if (!frontEnd.saveDone() && !frontEnd.stopped()) {
        if (frontEnd.lastMessage().empty())
            std::fprintf(stderr, "The save could not start.\n");
        return 1;
    }

    for (const auto& folder : state.saveReport) {
        std::printf("%6lld saved  %s", static_cast<long long>(folder.saved), folder.path.c_str());
        if (folder.failed > 0)
            std::printf("  (%lld could not be saved)", static_cast<long long>(folder.failed));
        std::printf("\n");
    }
    if (options->format == SaveFormat::Pst) {
        for (const std::string& path : state.savedStores)
            std::printf("Wrote %s\n", path.c_str());
    } else {
        std::printf("Wrote %zu file(s) under %s\n", countFiles(options->outDir),
                    options->outDir.c_str());
    }
    const long long saved = state.itemsSaved.load();
    const long long failed = state.itemsFailed.load();
    std::printf("%lld item(s) saved", saved);
    if (failed > 0)
        std::printf(", %lld item(s) could not be saved (see the log)", failed);
    std::printf(".\n");
    if (frontEnd.stopped()) {
        std::printf("The save was stopped; the output holds what was written until then.\n");
        return 130;
    }
    return failed > 0 ? 3 : 0;
}

} // namespace parvelle::cli
