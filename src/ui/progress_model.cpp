#include "ui/progress_model.h"

#include "ui/texts.h"

namespace parvelle::ui {
namespace {

std::string captioned(const char* caption, const std::string& value) {
    return std::string(caption) + "  " + value;
}

} // namespace

void ProgressBar::stepIt() {
    value += step;
    if (value > maximum)
        value = minimum + (value - maximum);
}

void ProgressBar::setValue(int v) {
    value = v < minimum ? minimum : (v > maximum ? maximum : v);
}

void ProgressModel::open(Form form) {
    bar_ = ProgressBar{};
    counter_ = 0;
    stopVisible_ = form == Form::Normal;
    for (std::string& l : lines_)
        l.clear();
    if (form == Form::Preview) {
        lines_[0] = texts::kLoadingItem;
        bar_.visible = false;
    }
}

void ProgressModel::advanceCounted(int total, int resetPosition) {
    bar_.minimum = 0;
    bar_.maximum = total;
    bar_.step = 1;
    if (counter_ == total) {
        counter_ = 0;
        bar_.setValue(resetPosition);
    } else {
        ++counter_;
        bar_.stepIt();
    }
}

void ProgressModel::onProgress(const mailbox::JobState& state) {
    using mailbox::ProgressMode;
    const ProgressMode mode = state.progressMode.load();
    if (mode == ProgressMode::Saving || mode == ProgressMode::Listing) {
        advanceCounted(state.itemCount.load(), 100);
    } else {
        bar_.step = 1;
        if (counter_ >= 500) {
            counter_ = 0;
            bar_.setValue(0);
        } else {
            ++counter_;
            bar_.stepIt();
        }
    }
    switch (mode) {
    case ProgressMode::Scanning:
        if (state.currentFolderName.empty()) {
            lines_[0] = texts::kScanningMailboxes;
        } else {
            lines_[1] = captioned(texts::kProcessingFolder, state.currentFolderName);
            lines_[2] = captioned(texts::kMailSubject, state.summarySubject);
        }
        break;
    case ProgressMode::Saving:
        lines_[0] = captioned(texts::kMailboxName, state.currentMailboxName);
        lines_[1] = captioned(texts::kProcessingFolder, state.currentFolderName);
        lines_[2] = captioned(texts::kMailSubject, state.summarySubject);
        break;
    default:
        break;
    }
}

void ProgressModel::onListFolder(const mailbox::JobState& state) {
    lines_[0] = texts::kLoadingItems;
    advanceCounted(state.itemCount.load(), 0);
}

} // namespace parvelle::ui
