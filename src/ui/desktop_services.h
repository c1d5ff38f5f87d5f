#pragma once
// Stand-ins for the operating-system facilities the desktop application relies on: one running
// instance per user, a private working folder, read-only settings and the user guide.
#include <map>
#include <string>
#include <vector>

namespace parvelle::ui {

// Holds an exclusive lock on a file in the user's runtime folder for the life of the process;
// a second instance fails to take it.
class InstanceLock {
public:
    explicit InstanceLock(const std::string& lockPath);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    bool acquired() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Where the lock file lives: $XDG_RUNTIME_DIR, else the temporary folder, with a per-user name.
std::string defaultLockPath();

// A folder only this user can read, removed with everything in it when the object goes.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    const std::string& path() const { return path_; }
    bool valid() const { return !path_.empty(); }

private:
    std::string path_;
};

// Key = value settings read from files (later files win), with compiled-in defaults. Nothing is
// ever written back.
class ReadOnlySettings {
public:
    explicit ReadOnlySettings(std::map<std::string, std::string> defaults = {})
        : values_(std::move(defaults)) {}
    void loadFile(const std::string& path);
    // Empty for an unset key.
    std::string value(const std::string& key) const;

private:
    std::map<std::string, std::string> values_;
};

// The settings files looked at, in order: the system-wide one, then the user's.
std::vector<std::string> settingsFiles();

// The first of the candidate user-guide paths that exists; empty when none does.
std::string findUserGuide(const std::vector<std::string>& candidates);

} // namespace parvelle::ui
