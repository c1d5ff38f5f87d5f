// The scan and list commands: run the scan job on an archive and print the mailbox model.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_frontend.h"
#include "cli/commands.h"
#include "mailbox/progress_job.h"
#include "platform/json.h"

#if __has_include("cli/pst_commands.h")
#include "cli/pst_commands.h"
#define PARVELLE_HAVE_PST_COMMANDS 1
#endif

namespace parvelle::cli {
namespace {

using namespace parvelle::mailbox;

struct ScanOptions {
    std::string archive;
    bool json = false;
    std::string logFile;
    std::string folderKey;
    bool hasFolder = false;
};

std::optional<ScanOptions> parseOptions(const std::vector<std::string>& args, bool wantFolder) {
    ScanOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            o.json = true;
        } else if (a == "--log" && i + 1 < args.size()) {
            o.logFile = args[++i];
        } else if (wantFolder && a == "--folder" && i + 1 < args.size()) {
            o.folderKey = args[++i];
            o.hasFolder = true;
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
        std::fprintf(stderr, "Name the archive to read.\n");
        return std::nullopt;
    }
    if (wantFolder && !o.hasFolder) {
        std::fprintf(stderr, "Name the folder to list with --folder KEY.\n");
        return std::nullopt;
    }
    return o;
}

// Number of item summaries per tree item.
std::map<TreeItem, std::size_t> itemCounts(const JobState& state) {
    std::map<TreeItem, std::size_t> counts;
    for (const auto& details : state.folderItems)
        counts[details->treeItem] += details->items.size();
    return counts;
}

void printTree(const JobState& state, TreeItem item, int depth,
               const std::map<TreeItem, std::size_t>& counts,
               const std::map<TreeItem, std::string>& keys) {
    const TreeNode node = state.folderTree.node(item);
    const auto count = counts.find(item);
    const auto key = keys.find(item);
    std::string line(static_cast<std::size_t>(depth) * 2, ' ');
    line += node.text;
    if (depth > 0) {
        line += "  (" + std::to_string(count == counts.end() ? 0 : count->second) + ")";
        if (key != keys.end())
            line += "  [" + key->second + "]";
    }
    std::printf("%s\n", line.c_str());
    for (TreeItem child : state.folderTree.children(item))
        printTree(state, child, depth + 1, counts, keys);
}

int printScan(const JobState& state, const ScanOptions& options, bool stopped) {
    const auto counts = itemCounts(state);
    std::size_t totalItems = 0;
    std::map<std::string, std::size_t> byKind;
    for (const auto& details : state.folderItems)
        for (const auto& item : details->items) {
            ++totalItems;
            ++byKind[item.kind.empty() ? "unknown" : item.kind];
        }
    if (options.json) {
        json::Writer w(true);
        w.beginObject();
        w.key("archive").value(options.archive);
        w.key("accounts").beginArray();
        for (const auto& account : state.accounts)
            w.value(account.name);
        w.endArray();
        w.key("folders").beginArray();
        for (const auto& node : state.folderNodes) {
            const auto count = counts.find(node.treeItem);
            w.beginObject();
            w.key("key").value(node.key);
            w.key("name").value(node.name);
            w.key("parentKey").value(node.parentKey);
            w.key("kind").value(node.nodeKind);
            w.key("icon").value(state.folderTree.node(node.treeItem).icon);
            w.key("items").value(
                static_cast<std::uint64_t>(count == counts.end() ? 0 : count->second));
            w.endObject();
        }
        w.endArray();
        w.key("defaultFolder");
        const Name_detailsNew* defaultNode = nullptr;
        for (const auto& node : state.folderNodes)
            if (state.defaultItem != 0 && node.treeItem == state.defaultItem)
                defaultNode = &node;
        if (defaultNode != nullptr)
            w.value(defaultNode->key);
        else
            w.null();
        w.key("stopped").value(stopped);
        w.endObject();
        std::printf("%s\n", w.str().c_str());
        return 0;
    }
    std::map<TreeItem, std::string> keys;
    for (const auto& node : state.folderNodes)
        keys[node.treeItem] = node.key;
    for (TreeItem root : state.folderTree.roots())
        printTree(state, root, 0, counts, keys);
    std::string kinds;
    for (const auto& [kind, n] : byKind)
        kinds += (kinds.empty() ? "" : ", ") + std::to_string(n) + " " + kind;
    std::printf("%zu account(s), %zu folder(s), %zu item(s)%s%s%s\n", state.accounts.size(),
                state.folderNodes.size(), totalItems, kinds.empty() ? "" : " (", kinds.c_str(),
                kinds.empty() ? "" : ")");
    if (stopped)
        std::printf("The scan was stopped; the tree shows what was read until then.\n");
    return 0;
}

int printList(const JobState& state, const ScanOptions& options) {
    const Name_detailsNew* folder = nullptr;
    for (const auto& node : state.folderNodes)
        if (node.key == options.folderKey)
            folder = &node;
    if (folder == nullptr) {
        std::fprintf(
            stderr,
            "The archive has no folder with the key \"%s\" (see the keys that \"scan\" prints).\n",
            options.folderKey.c_str());
        return 2;
    }
    std::vector<const RecoveredOlmHeaderData*> items;
    for (const auto& details : state.folderItems)
        if (details->treeItem == folder->treeItem)
            for (const auto& item : details->items)
                items.push_back(&item);
    if (options.json) {
        json::Writer w(true);
        w.beginArray();
        for (const auto* item : items) {
            w.beginObject();
            w.key("kind").value(item->kind);
            w.key("from").value(item->from);
            w.key("to").value(item->to);
            w.key("cc").value(item->cc);
            w.key("subject").value(item->subject);
            w.key("date").value(item->date);
            w.key("hasAttachments").value(item->hasAttachments != 0);
            w.key("attachmentNames").value(item->attachmentNames);
            w.key("offset").value(static_cast<std::int64_t>(item->offset));
            w.key("size").value(static_cast<std::int64_t>(item->size));
            w.endObject();
        }
        w.endArray();
        std::printf("%s\n", w.str().c_str());
        return 0;
    }
    for (const auto* item : items)
        std::printf("%-11s %-22s %-30s %s%s\n", item->kind.c_str(), item->date.c_str(),
                    item->from.c_str(), item->subject.c_str(), item->hasAttachments ? "  [+]" : "");
    std::printf("%zu item(s) in %s\n", items.size(), folder->key.c_str());
    return 0;
}

} // namespace

// Checks that the archive can be read before a job starts, so that a missing or unreadable file
// is one plain sentence rather than an empty tree.
bool checkReadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "Cannot open \"%s\": %s.\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "\"%s\" is a folder, not an OLM archive.\n", path.c_str());
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Cannot read \"%s\": %s.\n", path.c_str(), std::strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
}

bool scanArchive(JobState& state, const std::string& archive, const std::string& logFile,
                 bool& stopped) {
    if (!checkReadable(archive))
        return false;
    state.archivePath = archive;
    CliFrontEnd frontEnd(state);
    installStopHandler(state);
    ProgressJob job(state, frontEnd, JobKind::Scan);
    job.run();
    frontEnd.finishProgress();
    removeStopHandler();
    stopped = frontEnd.stopped();
    if (!logFile.empty() && !state.log.saveTo(logFileNameFor(logFile)))
        std::fprintf(stderr, "Cannot write the log file \"%s\".\n", logFile.c_str());
    if (!job.converter().archiveOpened()) {
        std::fprintf(stderr, "Cannot open \"%s\": %s.\n", archive.c_str(),
                     job.converter().lastError().c_str());
        return false;
    }
    if (job.converter().membersFound() == 0) {
        std::fprintf(stderr, "\"%s\" is not an OLM archive (no archive member found in it).\n",
                     archive.c_str());
        return false;
    }
    return true;
}

int runScan(const std::vector<std::string>& args) {
    const auto options = parseOptions(args, false);
    if (!options)
        return 2;
    JobState state;
    bool stopped = false;
    if (!scanArchive(state, options->archive, options->logFile, stopped))
        return 1;
    return printScan(state, *options, stopped);
}

int runList(const std::vector<std::string>& args) {
    const auto options = parseOptions(args, true);
    if (!options)
        return 2;
    JobState state;
    bool stopped = false;
    if (!scanArchive(state, options->archive, options->logFile, stopped))
        return 1;
    return printList(state, *options);
}

const std::vector<Command>& commands() {
    static const std::vector<Command> kCommands = {
        {"scan", runScan},          {"list", runList},        {"convert", runConvert},
#ifdef PARVELLE_HAVE_PST_COMMANDS
        {"check-pst", runCheckPst}, {"pst-info", runPstInfo},
#endif
    };
    return kCommands;
}

} // namespace parvelle::cli
