// The distribution list kind (IPM.DistList, MS-OXOCNTC personal distribution lists).
//
// AddMember(name, address, -) (method 0x6004000B) appends a one-off member; a member without an
// address is refused, since its entry id would lead nowhere. DLName (put 0x60040002) sets
// PidLidDistributionListName, the subject and the display name. Derived on save, from the
// members' one-off entry ids in the order they were added:
//   - PidLidDistributionListMembers and PidLidDistributionListOneOffMembers: the entry ids, as
//     long as the list stays below 15,000 bytes (the most either property may hold); otherwise
//     the leading members that fit, the same ones in both, for readers that know only these;
//   - PidLidDistributionListChecksum: over the entry ids PidLidDistributionListMembers holds;
//   - PidLidDistributionListStream, only when the list reaches 15,000 bytes: every member, each
//     with its entry id and one-off entry id. Readers that know the stream take the members
//     from it and ignore the three properties above.
#include "store/component/item_kind.h"
#include "store/component/mail_item.h"
#include "store/mapi/distribution_list.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/tags.h"

namespace parvelle::component {
namespace {

constexpr std::int32_t kAddMember = 0x6004000B;
constexpr std::int32_t kListName = 0x60040002;

std::string textArg(std::span<const Variant> args, std::size_t i) {
    return i < args.size() ? args[i].toString() : std::string();
}

class DistListKind : public ItemKind {
public:
    std::optional<Variant> invoke(MailItem& item, std::int32_t dispid, CallKind kind,
                                  std::span<const Variant> args) override {
        if (dispid == kAddMember && kind == CallKind::Method) {
            const std::string name = textArg(args, 0);
            const std::string address = textArg(args, 1);
            if (address.empty())
                throw ComponentError("A distribution list member needs an e-mail address");
            members_.push_back(mapi::oneOffEntryId(name.empty() ? address : name, "SMTP", address));
            return answered();
        }
        if (dispid == kListName && kind == CallKind::Put && !args.empty()) {
            const std::string name = args.back().toString();
            item.setNamed(addressProp(0x8053), mapi::PropValue::unicode(name));
            item.message().props.setString(mapi::tags::kSubject, name);
            item.message().props.setString(mapi::tags::kDisplayName, name);
            return answered();
        }
        if (dispid == 0x1A && kind == CallKind::Put && !args.empty()) { // HTMLBody: the notes
            putDescription(item, args.back().toString());
            return answered();
        }
        return std::nullopt;
    }
    void beforeSave(MailItem& item) override {
        const bool streamed = mapi::memberListSize(members_) >= mapi::kMemberListLimit;
        std::vector<mapi::Binary> listed = members_;
        if (streamed)
            listed.resize(mapi::membersBelowListLimit(members_));
        item.setNamed(addressProp(0x8055), mapi::PropValue::multiBinary(listed));
        item.setNamed(addressProp(0x8054), mapi::PropValue::multiBinary(listed));
        item.setNamed(addressProp(0x804C),
                      mapi::PropValue::u4(mapi::distributionListChecksum(listed)));
        if (streamed) {
            std::vector<mapi::DistListMember> all;
            all.reserve(members_.size());
            for (const mapi::Binary& id : members_)
                all.push_back({id, id});
            item.setNamed(addressProp(0x8064),
                          mapi::PropValue::binary(mapi::distributionListStream(all)));
        }
    }

private:
    std::vector<mapi::Binary> members_;
};

} // namespace

std::shared_ptr<ItemKind> makeDistListKind() {
    return std::make_shared<DistListKind>();
}

} // namespace parvelle::component
