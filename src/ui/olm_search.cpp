#include "ui/olm_search.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "platform/text.h"

namespace parvelle::ui {
namespace {

std::string cutTwoDecimals(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", value);
    std::string s = buf;
    const auto dot = s.find('.');
    if (dot != std::string::npos && s.size() > dot + 3)
        s.resize(dot + 3);
    return s;
}

std::string timeText(std::time_t t) {
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr || tm.tm_year < 0)
        return {};
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y", &tm);
    return std::string(buf, n);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool hasOlmExtension(const std::string& name) {
    return name.size() >= 4 && text::equalsIgnoreAsciiCase(name.substr(name.size() - 4), ".olm");
}

} // namespace

std::string sizeText(std::uint64_t n) {
    if (n < 1024)
        return std::to_string(n) + "(Bytes)";
    if (n < 1048576)
        return cutTwoDecimals(static_cast<double>(n) / 1024.0) + " (KB)";
    if (n < 1073741824)
        return cutTwoDecimals(static_cast<double>(n) / 1048576.0) + "(MB)";
    return cutTwoDecimals(static_cast<double>(n) / 1073741824.0) + "(GB)";
}

bool OlmSearch::stopped() {
    if (pauseGate_)
        pauseGate_();
    return stop_.load() != 0;
}

int OlmSearch::run(const std::string& folder, bool subfolders,
                   const std::function<void(const FoundFile&)>& found) {
    count_ = 0;
    searchFolder(folder, subfolders, found);
    return count_;
}

void OlmSearch::searchFolder(const std::string& folder, bool subfolders,
                             const std::function<void(const FoundFile&)>& found) {
    // Entries are read with lstat, so a symbolic link to a folder is never followed into a
    // cycle; hidden entries (a leading dot) are passed over as the desktop does.
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            names.emplace_back(entry->d_name);
        ::closedir(dir);
    } else {
        return;
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> folders;
    for (const std::string& name : names) {
        if (name.empty() || name[0] == '.')
            continue;
        if (stopped())
            return;
        const std::string path = joinPath(folder, name);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            folders.push_back(path);
            continue;
        }
        if (!S_ISREG(st.st_mode) || !hasOlmExtension(name))
            continue;
        const std::string lower = text::asciiLower(path);
        if (std::find(seenLower_.begin(), seenLower_.end(), lower) != seenLower_.end()) {
            alreadyInList_ = true;
            continue;
        }
        seenLower_.push_back(lower);
        FoundFile file;
        file.path = path;
        file.size = sizeText(static_cast<std::uint64_t>(st.st_size));
        file.created = timeText(st.st_ctime);
        file.accessed = timeText(st.st_atime);
        file.modified = timeText(st.st_mtime);
        ++count_;
        found(file);
    }
    if (!subfolders)
        return;
    for (const std::string& sub : folders) {
        if (stopped())
            return;
        searchFolder(sub, subfolders, found);
    }
}

std::vector<std::string> searchRoots(const std::string& homeFolder, const std::string& mountTable) {
    static const std::set<std::string> kPseudo = {
        "proc",      "sysfs",    "devtmpfs",  "devpts",      "tmpfs",   "cgroup", "cgroup2",
        "mqueue",    "debugfs",  "tracefs",   "securityfs",  "pstore",  "bpf",    "autofs",
        "hugetlbfs", "configfs", "fusectl",   "binfmt_misc", "overlay", "nsfs",   "rpc_pipefs",
        "ramfs",     "efivarfs", "selinuxfs", "squashfs"};
    std::vector<std::string> roots;
    if (!homeFolder.empty())
        roots.push_back(homeFolder);
    std::ifstream in(mountTable);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type) || kPseudo.count(type))
            continue;
        // Mount points escape blanks as octal sequences.
        std::string decoded;
        for (std::size_t i = 0; i < mountPoint.size(); ++i) {
            if (mountPoint[i] == '\\' && i + 3 < mountPoint.size() &&
                std::isdigit(static_cast<unsigned char>(mountPoint[i + 1]))) {
                decoded += static_cast<char>(std::stoi(mountPoint.substr(i + 1, 3), nullptr, 8));
                i += 3;
            } else {
                decoded += mountPoint[i];
            }
        }
        if (decoded.starts_with("/proc") || decoded.starts_with("/sys") ||
            decoded.starts_with("/dev") || decoded.starts_with("/run"))
            continue;
        if (std::find(roots.begin(), roots.end(), decoded) == roots.end())
            roots.push_back(decoded);
    }
    return roots;
}

} // namespace parvelle::ui
