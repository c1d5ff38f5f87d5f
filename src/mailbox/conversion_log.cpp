#include "mailbox/conversion_log.h"

#include <cstdio>
#include <memory>

#include "platform/text.h"

namespace parvelle::mailbox {

std::size_t ConversionLog::AppendLogRow(std::string itemType, std::string description,
                                        std::string status) {
    std::lock_guard lock(mutex_);
    rows_.push_back({std::move(itemType), std::move(description), std::move(status)});
    return rows_.size() - 1;
}

void ConversionLog::setStatus(std::size_t index, std::string status) {
    std::lock_guard lock(mutex_);
    if (index < rows_.size())
        rows_[index].status = std::move(status);
}

void ConversionLog::clear() {
    std::lock_guard lock(mutex_);
    rows_.clear();
}

std::vector<LogHeader> ConversionLog::rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

std::size_t ConversionLog::size() const {
    std::lock_guard lock(mutex_);
    return rows_.size();
}

std::string ConversionLog::toText() const {
    std::string out;
    auto line = [&out](const std::string& cell) {
        out += text::sanitizeUtf8(cell);
        out += "\r\n";
    };
    line("Parvelle");
    line("");
    for (const LogHeader& row : rows()) {
        line(row.itemType);
        line(row.description);
        if (!row.status.empty())
            line(row.status);
    }
    return out;
}

bool ConversionLog::saveTo(const std::string& path) const {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    const std::string content = toText();
    return std::fwrite(content.data(), 1, content.size(), file.get()) == content.size() &&
           std::fflush(file.get()) == 0;
}

std::string logFileNameFor(const std::string& chosenPath) {
    if (chosenPath.size() >= 4 &&
        text::equalsIgnoreAsciiCase(chosenPath.substr(chosenPath.size() - 4), ".txt"))
        return chosenPath;
    return chosenPath + ".txt";
}

} // namespace parvelle::mailbox
