#include "mailbox/preview_job.h"

#include <filesystem>
#include <fstream>
#include <set>

#include "items/file_names.h"
#include "items/mail_reader.h"
#include "mailbox/archive_reader.h"
#include "mailbox/preview_html.h"
#include "platform/text.h"

namespace parvelle::mailbox {
namespace fs = std::filesystem;

void ClearPreviewFiles(const std::string& folder) {
    if (folder.empty())
        return;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        if (!it->is_directory(entryError))
            fs::remove(it->path(), entryError);
    }
}

PreviewJob::PreviewJob(JobState& state, JobFrontEnd& frontEnd, const ItemSource& selected)
    : state_(state), ui_(frontEnd), selected_(selected) {}

PreviewJob::~PreviewJob() {
    join();
}

void PreviewJob::start() {
    thread_ = std::thread([this] { run(); });
}

void PreviewJob::join() {
    if (thread_.joinable())
        thread_.join();
}

void PreviewJob::run() {
    state_.previewOffset = selected_.offset;
    state_.previewSize = selected_.size;
    preview();
    ui_.closeJobWindows();
}

void PreviewJob::preview() {
    ArchiveReader archive;
    if (!archive.open(state_.archivePath))
        return;
    ClearPreviewFiles(state_.attachmentsFolder);
    state_.extractedAttachments.clear();
    state_.extractedPaths.clear();
    if (state_.stopRequested.load() != 0)
        state_.stopRequested = 0;

    for (const auto& details : state_.folderItems) {
        for (const RecoveredOlmHeaderData& record : details->items) {
            if (state_.stopRequested.load() != 0)
                return;
            state_.itemCount = 0;
            // Items of one compressed aggregate document share their member's offset; the place
            // inside the member tells them apart.
            if (record.offset != selected_.offset || record.innerOffset != selected_.innerOffset ||
                record.size != selected_.size)
                continue;
            RecoveredOlmHeaderData copy = record;
            if (const auto bytes = archive.read(copy)) {
                RenderItemPreviewBytes(state_, *bytes);
                state_.previewHtml = std::move(state_.previewText);
                state_.previewText.clear();
            } else {
                // Never show the previous item's page for an item that could not be read.
                state_.previewHtml.clear();
                state_.previewHasHtml.clear();
                state_.pendingAttachments.clear();
                state_.summaryHasAttachments = 0;
            }
            ui_.send(Notification::PreviewReady, 0, &copy);
            if (state_.summaryHasAttachments != 0)
                extractAttachments(archive);
        }
    }
}

void PreviewJob::extractAttachments(ArchiveReader& archive) {
    state_.extractedAttachments.clear();
    state_.extractedPaths.clear();
    if (state_.tempFolder.empty())
        return;
    std::set<std::string> taken;
    for (const AttachmentInfo& pending : state_.pendingAttachments) {
        if (state_.stopRequested.load() != 0)
            break;
        state_.attachmentsFolder = (fs::path(state_.tempFolder) / "Attachments").string();
        std::error_code ec;
        fs::create_directories(state_.attachmentsFolder, ec);
        const std::string fileName = items::UniqueAttachmentFileName(pending.displayName, taken);
        const fs::path target = fs::path(state_.attachmentsFolder) / fileName;
        if (const ItemSource* source = items::FindAttachmentMember(state_, pending)) {
            if (const auto data = archive.read(*source)) {
                std::ofstream out(target, std::ios::binary | std::ios::trunc);
                if (out)
                    out.write(data->data(), static_cast<std::streamsize>(data->size()));
            }
        }
        // One entry per attachment row, also for attachments that could not be copied: their
        // row then opens nothing.
        state_.extractedAttachments.push_back({pending.displayName, target.string()});
        state_.extractedPaths.push_back(target.string());
    }
}

} // namespace parvelle::mailbox
