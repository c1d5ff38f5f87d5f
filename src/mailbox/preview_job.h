#pragma once
// The preview of one selected item, run on its own thread: the item's document is read again
// from the archive, rendered for the reading pane (PreviewReady carries the item's record), and a
// mail's attachments are copied into JobState::attachmentsFolder so the pane can open them.
#include <string>
#include <thread>

#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"

namespace parvelle::mailbox {

class PreviewJob {
public:
    // `selected` identifies the item: its data offset, and for items cut out of a compressed
    // aggregate document also its place inside the inflated member.
    PreviewJob(JobState& state, JobFrontEnd& frontEnd, const ItemSource& selected);
    ~PreviewJob();
    PreviewJob(const PreviewJob&) = delete;
    PreviewJob& operator=(const PreviewJob&) = delete;

    void start();
    void join();
    // Runs the preview on the calling thread; ends by closing the job windows.
    void run();

private:
    void preview();
    void extractAttachments(class ArchiveReader& archive);

    JobState& state_;
    JobFrontEnd& ui_;
    ItemSource selected_;
    std::thread thread_;
};

// Deletes the files directly inside folder (not its subfolders); files that cannot be deleted
// are skipped. An empty folder name does nothing.
void ClearPreviewFiles(const std::string& folder);

} // namespace parvelle::mailbox
