#pragma once
// What the progress dialog shows: three text lines, a bar and the Stop button, driven by the
// running job's notifications and the progress fields of JobState.
#include <string>

#include "mailbox/job_state.h"

namespace parvelle::ui {

struct ProgressBar {
    int minimum = 0;
    int maximum = 500;
    int step = 5;
    int value = 0;
    bool visible = true;

    // Advances by one step; like the native control the bar starts again from its minimum
    // once it would run past the maximum.
    void stepIt();
    void setValue(int v);
};

class ProgressModel {
public:
    enum class Form { Normal, StopHidden, Preview };

    void open(Form form);
    // A Progress notification: advance and refresh the lines by the job's progress mode.
    void onProgress(const mailbox::JobState& state);
    // A ListFolder notification: a listing starts on a folder of state.itemCount items.
    void onListFolder(const mailbox::JobState& state);

    const std::string& line(int index) const { return lines_[index % 3]; }
    const ProgressBar& bar() const { return bar_; }
    bool stopVisible() const { return stopVisible_; }
    int counter() const { return counter_; }

private:
    void advanceCounted(int total, int resetPosition);

    std::string lines_[3];
    ProgressBar bar_;
    bool stopVisible_ = true;
    int counter_ = 0;
};

} // namespace parvelle::ui
