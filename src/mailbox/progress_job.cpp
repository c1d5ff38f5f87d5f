#include "mailbox/progress_job.h"

#include "mailbox/save_job.h"
#include "platform/datetime.h"

namespace parvelle::mailbox {

ProgressJob::ProgressJob(JobState& state, JobFrontEnd& frontEnd, JobKind kind)
    : state_(state), ui_(frontEnd), kind_(kind), converter_(state, frontEnd) {}

ProgressJob::~ProgressJob() {
    join();
}

void ProgressJob::start() {
    state_.jobRunning = true;
    thread_ = std::thread([this] { run(); });
}

void ProgressJob::join() {
    if (thread_.joinable())
        thread_.join();
}

void ProgressJob::run() {
    state_.jobRunning = true;
    switch (kind_) {
    case JobKind::Scan:
        runScan();
        break;
    case JobKind::ListFolder:
        converter_.listFolder();
        break;
    case JobKind::Save:
        if (body_)
            body_(converter_);
        else
            SaveJob(converter_, state_, ui_).run();
        break;
    case JobKind::None:
        break;
    }
    commonEnd();
}

void ProgressJob::runScan() {
    state_.rootItem = state_.folderTree.insert(0, state_.archivePath, kIconArchiveRoot);
    ui_.treeNodeInserted(state_.rootItem);
    state_.summarySubject.clear();
    state_.jobTimeText = platform::clockTextNow();
    state_.log.AppendLogRow("Source File Location:", state_.archivePath, "");
    state_.log.AppendLogRow("Conversion Start Time:", state_.jobTimeText, "");

    converter_.scan(state_.archivePath);

    ui_.closeJobWindows();
    ui_.post(Notification::Ended, state_.stopRequested.load() != 0 ? 0 : 1, 0);
    ui_.expandTree(state_.rootItem);
    state_.stopRequested = 0;
    state_.logAvailable = 1;
    state_.saveEnabled = 1;
    state_.jobTimeText = platform::clockTextNow();
    state_.log.AppendLogRow("Conversion Completed Time:", state_.jobTimeText, "");
}

void ProgressJob::commonEnd() {
    state_.saveEnabled = 1;
    state_.jobRunning = false;
    if (kind_ == JobKind::ListFolder)
        ui_.post(Notification::ListDone, 0, 0);
}

} // namespace parvelle::mailbox
