#pragma once
// A long job (scan, folder listing, save) run on its own thread. The front end starts it, shows
// its progress from the notifications, and may set JobState::stopRequested at any time; the job
// ends by closing the progress windows and posting its end notification.
#include <functional>
#include <thread>

#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"
#include "mailbox/mailbox_converter.h"

namespace parvelle::mailbox {

class ProgressJob {
public:
    ProgressJob(JobState& state, JobFrontEnd& frontEnd, JobKind kind);
    ~ProgressJob();
    ProgressJob(const ProgressJob&) = delete;
    ProgressJob& operator=(const ProgressJob&) = delete;

    // Runs the job on a new thread; join() waits for it.
    void start();
    void join();
    // Runs the job on the calling thread.
    void run();

    MailboxConverter& converter() { return converter_; }
    // Replaces the save job's body (by default SaveJob).
    void setBody(std::function<void(MailboxConverter&)> body) { body_ = std::move(body); }

private:
    void runScan();
    void commonEnd();

    JobState& state_;
    JobFrontEnd& ui_;
    JobKind kind_;
    MailboxConverter converter_;
    std::function<void(MailboxConverter&)> body_;
    std::thread thread_;
};

} // namespace parvelle::mailbox
