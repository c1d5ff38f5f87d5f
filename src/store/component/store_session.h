#pragma once
// The store side of saving: creating the session, logging it on to a PST file or an online
// mailbox, finding or creating each destination folder with the container class its content
// calls for, testing a PST and its password, listing profile stores, and logging off.
#include <functional>
#include <string>
#include <vector>

#include "store/component/dispatch.h"
#include "store/component/mail_item.h"

namespace parvelle::component {

// Message shown when the store component cannot be created.
inline constexpr const char* kComponentMissingMessage =
    "Check!\nMake sure that KestraneDll.dll is properly registered";

// A session holder (storeSession, probeSession): empty until created.
struct SessionHolder {
    ObjectRef session;
};

using ShowMessageFn = std::function<void(const std::string& text)>;

// Fills the holder unless it already holds a session. On failure reports through showMessage,
// clears `available` and leaves the holder empty.
void CreateStoreSession(SessionHolder& holder, bool& available, const ShowMessageFn& showMessage,
                        const FileWriters& writers = {});
// Log on, then reach the destination's top folder (returned). Throw ComponentError on failure.
ObjectRef OpenPstStore(const ObjectRef& session, const std::string& path,
                       const std::string& password);
ObjectRef LogOnOffice365(const ObjectRef& session, const std::string& mailId,
                         const std::string& password);
// Logs off when logged on, then drops the reference.
void EndStoreLogon(ObjectRef& session);

// The container class of a folder created for an archive folder of this name.
std::string containerClassForFolderName(const std::string& name);
// The container class for a folder about to be created: its name, and whether it is the
// innermost folder of the path (the one whose items are being saved).
using ContainerClassFn = std::function<std::string(const std::string& name, bool innermost)>;
// Walks folderPath (innermost first) from the root down, finding each folder or creating it
// with `classFor` (by default from its name). Returns the last folder, or nullptr when a step
// fails or no name was walked. Polls `stop` before each step.
ObjectRef EnsureStoreFolder(const ObjectRef& rootFolder, const std::vector<std::string>& folderPath,
                            const std::function<bool()>& stop,
                            const ContainerClassFn& classFor = {});

enum class PstTestOutcome { None, Opened, WrongPassword, InvalidFile, Unclassified };
// Opens the PST with the password on a probe session and logs off again. A failure on a browsed
// file is classified by the error text; one on a profile's file stays unclassified.
PstTestOutcome TestPstPassword(SessionHolder& probe, bool& available,
                               const ShowMessageFn& showMessage, const std::string& path,
                               const std::string& password, bool browsed);

struct ProfileStoreRow {
    std::string profile;
    std::string path;
};
// The PST files of the Outlook profiles that can be opened for writing. There are no profiles
// off Windows, so the list is empty.
std::vector<ProfileStoreRow> ListProfileStores(SessionHolder& holder, bool& available,
                                               const ShowMessageFn& showMessage);

} // namespace parvelle::component
