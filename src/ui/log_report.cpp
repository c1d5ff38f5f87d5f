#include "ui/log_report.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "ui/texts.h"

namespace parvelle::ui {

void LogReportModel::load(const mailbox::ConversionLog& log) {
    rows_.clear();
    const auto logRows = log.rows();
    if (logRows.empty())
        return;
    rows_.push_back({texts::kAppTitle, "", ""});
    rows_.insert(rows_.end(), logRows.begin(), logRows.end());
}

void LogReportModel::clear(mailbox::ConversionLog& log) {
    rows_.clear();
    log.clear();
}

std::string LogReportModel::fileText() const {
    std::string out;
    auto cell = [&out](const std::string& text) {
        out += text::sanitizeUtf8(text);
        out += "\r\n";
    };
    for (const mailbox::LogHeader& row : rows_) {
        cell(row.itemType);
        cell(row.description);
        if (!row.status.empty())
            cell(row.status);
    }
    return out;
}

bool LogReportModel::saveTo(const std::string& chosenPath) const {
    namespace fs = std::filesystem;
    const fs::path target = mailbox::logFileNameFor(chosenPath);
    const fs::path temporary = target.string() + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        const std::string content = fileText();
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.flush();
        if (!out) {
            out.close();
            std::error_code ec;
            fs::remove(temporary, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

} // namespace parvelle::ui
