#pragma once
// The single point where the save module plugs into the desktop application: the body of the
// save job (run on the job thread with the job's converter, after the save dialogs have filled
// the save settings of JobState), and the store services the PST dialogs use.
#include <functional>
#include <memory>

#include "mailbox/mailbox_converter.h"
#include "ui/save_dialogs.h"

namespace parvelle::ui {

using SaveJobBody = std::function<void(mailbox::MailboxConverter&)>;

// Replaces the save job's body (by default the mailbox save job). Without one the save command
// tells the user that saving is not available.
void setSaveJobBody(SaveJobBody body);
const SaveJobBody& saveJobBody();

// Replaces the store services (profile list, PST test open; by default the store session's).
void setStoreServices(std::shared_ptr<StoreServices> services);
StoreServices& storeServices();

} // namespace parvelle::ui
