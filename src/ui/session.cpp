#include "ui/session.h"

#include <filesystem>

#include "mailbox/preview_job.h"
#include "store/component/store_session.h"

namespace parvelle::ui {

bool commandEnabled(Command command, const mailbox::JobState& state) {
    switch (command) {
    case Command::SaveMailbox:
        return state.saveEnabled.load() != 0;
    case Command::LogReport:
        return state.logAvailable.load() != 0;
    default:
        return true;
    }
}

void resetSession(mailbox::JobState& state, const std::string& previewFolder) {
    state.clearMailbox();
    state.stopRequested = 0;
    mailbox::ClearPreviewFiles(state.attachmentsFolder);
    mailbox::ClearPreviewFiles(previewFolder);
    std::error_code ec;
    if (!state.attachmentsFolder.empty())
        std::filesystem::remove(state.attachmentsFolder, ec);
    if (!previewFolder.empty())
        std::filesystem::remove(previewFolder, ec);
    state.extractedAttachments.clear();
    state.extractedPaths.clear();
    state.pendingAttachments.clear();
    state.previewHtml.clear();
    state.previewHasHtml.clear();
    state.destinationPath.clear();
    // A store still logged on is logged off, which closes its file; the component's errors are
    // of no use to anyone at this point.
    try {
        component::EndStoreLogon(state.storeSession);
    } catch (const std::exception&) {
        state.storeSession.reset();
    }
}

} // namespace parvelle::ui
