#include "ui/find_dialog_logic.h"

#include <cstdio>

#include "platform/text.h"
#include "ui/texts.h"

namespace parvelle::ui {

std::string filesFoundText(int count) {
    char buf[64];
    std::snprintf(buf, sizeof buf, texts::kFilesFoundFormat, count);
    return buf;
}

void FindDialogLogic::open() {
    c_ = Controls{};
    subfolders_ = true;
    rowCount_ = foundCount_ = 0;
    idle_ = true;
    status_.clear();
}

bool FindDialogLogic::findPressed(bool haveLookIn) {
    if (!haveLookIn)
        return false;
    c_.lookIn = false;
    c_.cancel = false;
    status_.clear();
    rowCount_ = foundCount_ = 0;
    c_.find = false;
    c_.stop = true;
    return true;
}

void FindDialogLogic::searchStarted() {
    c_.clearList = false;
    c_.subfolders = false;
    c_.findInFolder = false;
    c_.ok = false;
    idle_ = false;
}

std::string FindDialogLogic::searchEnded(bool rowSelected) {
    if (rowCount_ > 0)
        status_ = filesFoundText(rowCount_);
    c_.stop = false;
    c_.lookIn = true;
    std::string message;
    if (rowCount_ == 0) {
        message = texts::kFileNotFound;
    } else {
        message = filesFoundText(foundCount_);
        foundCount_ = 0;
        c_.clearList = true;
        c_.ok = rowSelected;
    }
    c_.find = c_.cancel = c_.findInFolder = c_.subfolders = true;
    idle_ = true;
    return message;
}

void FindDialogLogic::stopPressed() {
    c_.stop = false;
}

void FindDialogLogic::stopAnswered(bool yes) {
    if (yes) {
        c_.lookIn = true;
        c_.cancel = true;
    } else {
        c_.stop = true;
    }
}

void FindDialogLogic::clearList() {
    c_.clearList = false;
    c_.ok = false;
    status_.clear();
    rowCount_ = foundCount_ = 0;
}

void FindDialogLogic::rowSelected(bool haveRows) {
    if (haveRows && idle_)
        c_.ok = true;
}

int FindDialogLogic::addLookIn(std::vector<std::string>& entries, const std::string& folder) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (text::equalsIgnoreAsciiCase(entries[i], folder))
            return static_cast<int>(i);
    entries.push_back(folder);
    return static_cast<int>(entries.size()) - 1;
}

} // namespace parvelle::ui
