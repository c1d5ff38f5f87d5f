#pragma once
// The main frame's session rules: which commands are enabled, and forgetting a loaded archive.
#include <string>

#include "mailbox/job_state.h"

namespace parvelle::ui {

enum class Command {
    SelectMailbox,
    SaveMailbox,
    Exit,
    LogReport,
    Help,
    Support,
    Knowledgebase,
    Enquiry,
    About
};

bool commandEnabled(Command command, const mailbox::JobState& state);

// Forgets the loaded archive: the mailbox model, the stop request, the preview and attachment
// files of the working folders and the save destination; logs off the store session. The log is
// kept.
void resetSession(mailbox::JobState& state, const std::string& previewFolder);

} // namespace parvelle::ui
