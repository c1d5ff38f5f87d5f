#include "ui/desktop_services.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

namespace parvelle::ui {
namespace fs = std::filesystem;

InstanceLock::InstanceLock(const std::string& lockPath) {
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string defaultLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0' && fs::is_directory(runtime))
        return (fs::path(runtime) / "parvelle.lock").string();
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    return ((ec ? fs::path("/tmp") : temp) / ("parvelle-" + std::to_string(::getuid()) + ".lock"))
        .string();
}

PrivateFolder::PrivateFolder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    std::string pattern = (base / "parvelle-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
}

PrivateFolder::~PrivateFolder() {
    if (path_.empty())
        return;
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void ReadOnlySettings::loadFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#' || line[first] == ';' ||
            line[first] == '[')
            continue;
        const auto eq = line.find('=', first);
        if (eq == std::string::npos)
            continue;
        auto trim = [](std::string s) {
            const auto b = s.find_first_not_of(" \t");
            const auto e = s.find_last_not_of(" \t");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        values_[trim(line.substr(first, eq - first))] = trim(line.substr(eq + 1));
    }
}

std::string ReadOnlySettings::value(const std::string& key) const {
    const auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
}

std::vector<std::string> settingsFiles() {
    std::vector<std::string> files{"/etc/parvelle/parvelle.conf"};
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && *config != '\0')
        files.push_back((fs::path(config) / "parvelle" / "parvelle.conf").string());
    else if (home != nullptr && *home != '\0')
        files.push_back((fs::path(home) / ".config" / "parvelle" / "parvelle.conf").string());
    return files;
}

std::string findUserGuide(const std::vector<std::string>& candidates) {
    for (const std::string& candidate : candidates) {
        std::error_code ec;
        if (!candidate.empty() && fs::is_regular_file(candidate, ec))
            return candidate;
    }
    return {};
}

} // namespace parvelle::ui
