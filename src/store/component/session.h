#pragma once
// The session object of the automation model and the store objects behind it: a session logs on
// to one PST file at a time (created when absent), whose folders, subfolder collections and item
// collections answer the dispatch ids the writers call. A session also makes items that are kept
// in a message file rather than a store.
#include <memory>
#include <string>

#include "store/component/dispatch.h"
#include "store/component/mail_item.h"
#include "store/mapi/name_id_map.h"

namespace parvelle::pst {
class PstStore;
}

namespace parvelle::component {

// Text that callers search in an error to tell a wrong password from other failures.
inline constexpr const char* kWrongPasswordCode = "0x30060401";

// One logon: the open PST store.
struct PstLogon {
    std::unique_ptr<pst::PstStore> store;
    std::string path;
    ~PstLogon();
};

class Session : public DispatchObject {
public:
    explicit Session(FileWriters writers = {});
    ~Session() override;
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;

    // Opens (or creates) the PST at path; throws ComponentError on failure.
    ObjectRef logOnPst(const std::string& path, const std::string& password);
    void logOff();
    bool loggedOn() const { return logon_ != nullptr; }
    // A new item kept in the message file at path. An intermediate item stands for a file that
    // is only a step towards another format: its save checks that the file could be written but
    // does not write it.
    ObjectRef newFileItem(const std::string& path, const std::string& messageClass,
                          bool intermediate = false);

private:
    std::shared_ptr<PstLogon> logon_;
    FileWriters writers_;
    std::shared_ptr<mapi::NameIdMap> fileNames_;
};

// The profile list: Outlook profiles do not exist off Windows, so it is always empty.
class Profiles : public DispatchObject {
public:
    Variant invoke(std::int32_t dispid, CallKind kind, std::span<const Variant> args) override;
};

// Creates the objects the store session asks for by program id ("KestraneDll.RDOSession",
// "Profman.Profiles"); nullptr for any other.
ObjectRef createObject(const std::string& progId, FileWriters writers = {});

} // namespace parvelle::component
