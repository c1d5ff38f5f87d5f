#include "third_party_kinds.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "oracles.h"

namespace parvelle::items::test {
namespace {

namespace fs = std::filesystem;
using pst::test::runCommand;

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool haveCommand(const std::string& name) {
    return runCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line);
    }
    return out;
}

// vCard and iCalendar content lines, unfolded, as fields (name before ';' or ':').
void contentLines(const std::string& text, KindItem& item) {
    std::vector<std::string> unfolded;
    for (const std::string& line : lines(text)) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !unfolded.empty())
            unfolded.back() += line.substr(1);
        else
            unfolded.push_back(line);
    }
    for (const std::string& line : unfolded) {
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, std::min(colon, line.find(';')));
        std::string& field = item.fields[name];
        if (!field.empty())
            field += "\n";
        field += line.substr(colon + 1);
    }
}

} // namespace

const KindItem* KindsSeen::item(const std::string& folder, const std::string& subject) const {
    for (const KindItem& i : items)
        if (i.folder == folder && i.field("subject") == subject)
            return &i;
    return nullptr;
}

KindsSeen readKindsWithPstExtractor(const std::string& pst) {
    KindsSeen seen;
    const std::string dir = PARVELLE_ORACLES_DIR;
    if (!haveCommand("node") || !fs::exists(dir + "/node_modules/pst-extractor")) {
        seen.skipped = true;
        return seen;
    }
    std::string out;
    if (runCommand("node " + shellQuote(dir + "/pstx_kinds.js") + " " + shellQuote(pst) + " 2>&1",
                   &out) != 0) {
        seen.error = "pst-extractor failed: " + out;
        return seen;
    }
    for (const std::string& line : lines(out)) {
        const auto tab = line.find('\t');
        if (line.rfind("I\t", 0) == 0) {
            seen.items.push_back({line.substr(2), {}});
        } else if (line.rfind("F\t", 0) == 0 && !seen.items.empty()) {
            const auto second = line.find('\t', tab + 1);
            if (second == std::string::npos)
                continue;
            seen.items.back().fields[line.substr(tab + 1, second - tab - 1)] =
                percentDecode(line.substr(second + 1));
        } else if (!line.empty()) {
            // Anything else is a message of the reader: a finding.
            seen.error += line + "\n";
        }
    }
    // The first folder level is the store's top folder.
    for (KindItem& item : seen.items) {
        const auto slash = item.folder.find('/');
        item.folder = slash == std::string::npos ? std::string() : item.folder.substr(slash + 1);
    }
    return seen;
}

KindsSeen readKindsWithReadpst(const std::string& pst, const std::string& workDir) {
    KindsSeen seen;
    if (!haveCommand("readpst")) {
        seen.skipped = true;
        return seen;
    }
    const fs::path target = fs::path(workDir) / "readpst-kinds";
    fs::remove_all(target);
    fs::create_directories(target);
    std::string log;
    if (runCommand("readpst -S -D -q -o " + shellQuote(target.string()) + " " + shellQuote(pst) +
                       " 2>&1",
                   &log) != 0 ||
        !log.empty()) {
        seen.error = "readpst: " + log;
        return seen;
    }
    for (const auto& entry : fs::recursive_directory_iterator(target)) {
        if (!entry.is_regular_file())
            continue;
        const std::string content = readFile(entry.path());
        if (content.rfind("BEGIN:", 0) != 0)
            continue;
        KindItem item;
        const fs::path folder = fs::relative(entry.path().parent_path(), target);
        auto it = folder.begin();
        if (it != folder.end())
            ++it; // the store's top folder
        for (; it != folder.end(); ++it)
            item.folder += (item.folder.empty() ? "" : "/") + it->string();
        contentLines(content, item);
        item.fields["subject"] = item.field(item.fields.count("SUMMARY") ? "SUMMARY" : "FN");
        seen.items.push_back(std::move(item));
    }
    return seen;
}

KindsSeen readKindsWithPffexport(const std::string& pst, const std::string& workDir) {
    KindsSeen seen;
    if (!haveCommand("pffexport")) {
        seen.skipped = true;
        return seen;
    }
    const std::string target = workDir + "/pff-kinds";
    fs::remove_all(target + ".export");
    std::string log;
    if (runCommand("pffexport -q -m items -t " + shellQuote(target) + " " + shellQuote(pst) +
                       " 2>&1",
                   &log) != 0 ||
        log.find("rror") != std::string::npos || log.find("Unable") != std::string::npos ||
        log.find("Skipped") != std::string::npos) {
        seen.error = "pffexport: " + log;
        return seen;
    }
    fs::path top;
    for (const auto& e : fs::directory_iterator(target + ".export"))
        if (e.is_directory() && e.path().filename() != "Search Root" &&
            e.path().filename().string().find("Search Folder") == std::string::npos)
            top = e.path();
    if (top.empty()) {
        seen.error = "pffexport exported no folders";
        return seen;
    }
    for (const auto& folder : fs::directory_iterator(top)) {
        if (!folder.is_directory())
            continue;
        std::vector<fs::path> entries;
        for (const auto& e : fs::directory_iterator(folder.path()))
            if (e.is_directory())
                entries.push_back(e.path());
        std::sort(entries.begin(), entries.end());
        for (const fs::path& p : entries) {
            KindItem item;
            item.folder = folder.path().filename().string();
            for (const auto& file : fs::directory_iterator(p)) {
                if (!file.is_regular_file())
                    continue;
                const std::string name = file.path().filename().string();
                const std::string content = readFile(file.path());
                item.fields[name] = content;
                for (const std::string& line : lines(content)) {
                    const auto colon = line.find(':');
                    if (colon == std::string::npos)
                        continue;
                    std::string value = line.substr(colon + 1);
                    value.erase(0, value.find_first_not_of(" \t"));
                    std::string& field = item.fields[name + ":" + line.substr(0, colon)];
                    if (!field.empty())
                        field += "\n";
                    field += value;
                }
            }
            // The conversation topic: pffexport mangles some subjects' first character.
            for (const auto& [key, value] : item.fields)
                if (key.ends_with(".txt:Conversation topic"))
                    item.fields["subject"] = value;
            seen.items.push_back(std::move(item));
        }
    }
    return seen;
}

} // namespace parvelle::items::test
