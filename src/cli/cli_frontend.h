#pragma once
// The command line as a job front end: progress on stderr when it is a terminal, Ctrl-C as the
// Stop button.
#include <chrono>
#include <string>

#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"

namespace parvelle::cli {

class CliFrontEnd : public mailbox::JobFrontEnd {
public:
    explicit CliFrontEnd(mailbox::JobState& state);
    ~CliFrontEnd() override;

    void send(mailbox::Notification n, std::int64_t wParam, const void* lParam) override;
    void post(mailbox::Notification n, std::int64_t wParam, std::int64_t lParam) override;
    // Prints the message on stderr (the command line has no message boxes).
    int showMessage(const std::string& text, mailbox::MessageIcon icon) override;
    // Whether the job reported that it was stopped before finishing, or that a save finished.
    bool stopped() const { return stopped_; }
    bool saveDone() const { return saveDone_; }
    // The last message shown, empty when none was.
    const std::string& lastMessage() const { return lastMessage_; }
    // Ends the progress line.
    void finishProgress();

private:
    mailbox::JobState& state_;
    bool terminal_;
    bool lineShown_ = false;
    bool stopped_ = false;
    bool saveDone_ = false;
    std::string lastMessage_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Routes SIGINT (and SIGTERM) to state.stopRequested while the front end lives.
void installStopHandler(mailbox::JobState& state);
void removeStopHandler();

} // namespace parvelle::cli
