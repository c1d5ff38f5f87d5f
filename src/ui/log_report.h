#pragma once
// The "Log Report" dialog's rows and its text file.
#include <string>
#include <vector>

#include "mailbox/conversion_log.h"

namespace parvelle::ui {

class LogReportModel {
public:
    // Opening the dialog: a first row "Parvelle", then the log's rows; empty when the log is.
    void load(const mailbox::ConversionLog& log);
    // "Clear Log": no rows, and the log itself emptied.
    void clear(mailbox::ConversionLog& log);

    const std::vector<mailbox::LogHeader>& rows() const { return rows_; }
    bool saveEnabled() const { return !rows_.empty(); }
    bool clearEnabled() const { return !rows_.empty(); }

    // The file text: per row its item type and description lines and its status line when not
    // empty, each ending in CR LF, UTF-8 without a byte-order mark.
    std::string fileText() const;
    // Writes the rows to the file "Save Log" chose (".txt" added unless present). Written under
    // a temporary name and renamed into place, so a failed write never leaves a partial log.
    bool saveTo(const std::string& chosenPath) const;

private:
    std::vector<mailbox::LogHeader> rows_;
};

} // namespace parvelle::ui
