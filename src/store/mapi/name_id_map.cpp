#include "store/mapi/name_id_map.h"

namespace parvelle::mapi {

namespace {
std::optional<std::uint16_t> directId(const NamedProperty& name) {
    if (name.propertySet == psets::kMapi && name.isNumeric()) {
        const auto lid = std::get<std::uint32_t>(name.name);
        if (lid < kFirstNamedId)
            return static_cast<std::uint16_t>(lid);
    }
    return std::nullopt;
}
constexpr std::size_t kMaxNamedIds = 0xFFFF - kFirstNamedId;
} // namespace

std::optional<std::uint16_t> NameIdMap::find(const NamedProperty& name) const {
    if (auto direct = directId(name))
        return direct;
    auto it = ids_.find(name);
    if (it == ids_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::uint16_t> NameIdMap::idFor(const NamedProperty& name) {
    if (auto found = find(name))
        return found;
    if (entries_.size() >= kMaxNamedIds)
        return std::nullopt;
    const auto id = static_cast<std::uint16_t>(kFirstNamedId + entries_.size());
    entries_.push_back(name);
    ids_.emplace(name, id);
    return id;
}

const NamedProperty* NameIdMap::nameOf(std::uint16_t id) const {
    if (id < kFirstNamedId || static_cast<std::size_t>(id - kFirstNamedId) >= entries_.size())
        return nullptr;
    return &entries_[id - kFirstNamedId];
}

void NameIdMap::assign(std::vector<NamedProperty> entries) {
    entries_ = std::move(entries);
    ids_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i)
        ids_.emplace(entries_[i], static_cast<std::uint16_t>(kFirstNamedId + i));
}

} // namespace parvelle::mapi
