#pragma once
// The conversion log: rows of (item type, description, status) that the jobs append from their
// threads, kept in order for the whole run and saved as a UTF-8 text file with CR LF lines.
#include <mutex>
#include <string>
#include <vector>

namespace parvelle::mailbox {

struct LogHeader {
    std::string itemType;
    std::string description;
    std::string status;
};

class ConversionLog {
public:
    // Appends a row; returns its index.
    std::size_t AppendLogRow(std::string itemType, std::string description, std::string status);
    // Replaces the status of the row at index (a row that does not exist is left alone).
    void setStatus(std::size_t index, std::string status);
    void clear();
    std::vector<LogHeader> rows() const;
    std::size_t size() const;

    // The text of the saved log: a first line "Parvelle" with an empty description line, then
    // per row its item type and description lines and its status line when not empty, each line
    // ending in CR LF.
    std::string toText() const;
    // Writes toText() to path (created or replaced). Returns false when the file cannot be
    // created or written.
    bool saveTo(const std::string& path) const;

private:
    mutable std::mutex mutex_;
    std::vector<LogHeader> rows_;
};

// The file name "Save Log" writes to: the chosen path, with ".txt" appended unless it already
// ends in ".txt" in any letter case.
std::string logFileNameFor(const std::string& chosenPath);

} // namespace parvelle::mailbox
