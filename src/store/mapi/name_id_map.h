#pragma once
// A store's map between named properties and the property ids (0x8000 and above) that stand for
// them in that store. Ids are handed out in order and never reused; the PST backend persists the
// map in its name-to-id node.
#include "store/mapi/property.h"

#include <map>
#include <optional>
#include <vector>

namespace parvelle::mapi {

class NameIdMap {
public:
    // The id of `name`, assigning the next free one when it has none yet. Numeric names in PS_MAPI
    // stand for the ordinary property of that id and get no entry. Nullopt once the 32,767 ids of
    // the named range are used up.
    std::optional<std::uint16_t> idFor(const NamedProperty& name);
    std::optional<std::uint16_t> find(const NamedProperty& name) const;
    const NamedProperty* nameOf(std::uint16_t id) const;

    // Entries in id order: entries()[i] has id 0x8000 + i.
    const std::vector<NamedProperty>& entries() const { return entries_; }
    // Rebuilds the map from stored entries (in id order).
    void assign(std::vector<NamedProperty> entries);

private:
    std::vector<NamedProperty> entries_;
    std::map<NamedProperty, std::uint16_t> ids_;
};

} // namespace parvelle::mapi
