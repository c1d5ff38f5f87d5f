#include "store/component/store_session.h"

#include <fcntl.h>
#include <iterator>
#include <unistd.h>

#include "store/component/session.h"

namespace parvelle::component {
namespace {

ObjectRef reachRootFolder(const ObjectRef& session) {
    const ObjectRef stores = session->get(6).toObject();
    if (!stores)
        throw ComponentError("The session has no stores");
    const ObjectRef store = stores->get(4).toObject();
    if (!store)
        throw ComponentError("The session has no store");
    return store->get(0x68).toObject();
}

} // namespace

void CreateStoreSession(SessionHolder& holder, bool& available, const ShowMessageFn& showMessage,
                        const FileWriters& writers) {
    if (holder.session)
        return;
    holder.session = createObject("KestraneDll.RDOSession", writers);
    if (!holder.session) {
        available = false;
        if (showMessage)
            showMessage(kComponentMissingMessage);
    }
}

ObjectRef OpenPstStore(const ObjectRef& session, const std::string& path,
                       const std::string& password) {
    if (!session)
        throw ComponentError("No store session");
    session->call(0x6002001F, {path, Missing{}, Missing{}, password, Missing{}});
    return reachRootFolder(session);
}

ObjectRef LogOnOffice365(const ObjectRef& session, const std::string& mailId,
                         const std::string& password) {
    if (!session)
        throw ComponentError("No store session");
    session->call(0x6002003E, {mailId, mailId, password});
    return reachRootFolder(session);
}

void EndStoreLogon(ObjectRef& session) {
    if (session && session->get(2).toBool())
        session->call(0x12);
    session.reset();
}

std::string containerClassForFolderName(const std::string& name) {
    if (name == "Address Book" || name == "Contacts")
        return "IPF.Contact";
    if (name == "Calendars" || name == "Calendar")
        return "IPF.Appointment";
    if (name == "Notes")
        return "IPF.StickyNote";
    if (name == "Tasks")
        return "IPF.Task";
    return "IPF.Note";
}

ObjectRef EnsureStoreFolder(const ObjectRef& rootFolder, const std::vector<std::string>& folderPath,
                            const std::function<bool()>& stop, const ContainerClassFn& classFor) {
    ObjectRef current = rootFolder;
    bool walked = false;
    for (auto it = folderPath.rbegin(); it != folderPath.rend() && current; ++it) {
        if (stop && stop())
            break;
        if (it->empty())
            continue;
        const ObjectRef subfolders = current->get(0x12).toObject();
        if (!subfolders)
            return nullptr;
        const bool innermost = std::next(it) == folderPath.rend();
        const std::string cls =
            classFor ? classFor(*it, innermost) : containerClassForFolderName(*it);
        ObjectRef child = subfolders->call(9, {*it}).toObject();
        if (!child)
            child = subfolders->call(4, {*it, cls}).toObject();
        if (!child)
            return nullptr;
        current = child;
        walked = true;
    }
    return walked ? current : nullptr;
}

PstTestOutcome TestPstPassword(SessionHolder& probe, bool& available,
                               const ShowMessageFn& showMessage, const std::string& path,
                               const std::string& password, bool browsed) {
    CreateStoreSession(probe, available, showMessage);
    if (!probe.session)
        return PstTestOutcome::None;
    try {
        OpenPstStore(probe.session, path, password);
        EndStoreLogon(probe.session);
        return PstTestOutcome::Opened;
    } catch (const ComponentError& e) {
        if (!browsed)
            return PstTestOutcome::Unclassified;
        const std::string text = std::string(e.what()).substr(0, 255);
        if (text.find("0x30060401") != std::string::npos ||
            text.find("805700609") != std::string::npos)
            return PstTestOutcome::WrongPassword;
        return PstTestOutcome::InvalidFile;
    }
}

std::vector<ProfileStoreRow> ListProfileStores(SessionHolder& holder, bool& available,
                                               const ShowMessageFn& showMessage) {
    std::vector<ProfileStoreRow> rows;
    const ObjectRef profiles = createObject("Profman.Profiles");
    if (!profiles) {
        available = false;
        if (showMessage)
            showMessage(kComponentMissingMessage);
        return rows;
    }
    try {
        const std::int32_t count = profiles->get(1).toInt();
        for (std::int32_t i = 1; i <= count; ++i) {
            const ObjectRef profile = profiles->get(2, {i}).toObject();
            if (!profile)
                continue;
            const std::string name = profile->get(1).toString();
            CreateStoreSession(holder, available, showMessage);
            if (!holder.session)
                return rows;
            holder.session->call(
                4, {name, Missing{}, Missing{}, Missing{}, std::int32_t{0}, Missing{}});
            if (const ObjectRef stores = holder.session->get(6).toObject()) {
                const std::int32_t n = stores->get(2).toInt();
                for (std::int32_t k = 1; k <= n; ++k) {
                    const ObjectRef store = stores->get(0, {k}).toObject();
                    const std::string path = store ? store->get(0x7D1).toString() : std::string();
                    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_CLOEXEC);
                    if (fd >= 0) {
                        ::close(fd);
                        rows.push_back({name, path});
                    }
                }
            }
            EndStoreLogon(holder.session);
        }
    } catch (const ComponentError&) {
        holder.session.reset();
    }
    return rows;
}

} // namespace parvelle::component
