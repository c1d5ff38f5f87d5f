#include "own_reader.h"

#include <cstring>

namespace parvelle::items::test {

OwnStore OwnStore::read(const std::string& path, std::string& error) {
    OwnStore out;
    auto reader = pst::PstReader::open(path);
    if (!reader) {
        error = reader.error();
        return out;
    }
    auto names = reader->namedProperties();
    if (!names) {
        error = names.error();
        return out;
    }
    out.names_ = *names;
    auto top = reader->ipmSubtree();
    if (!top) {
        error = top.error();
        return out;
    }
    auto root = reader->folder(*top);
    if (!root) {
        error = root.error();
        return out;
    }
    out.walk(*reader, root->subfolders, "", error, 0);
    return out;
}

bool OwnStore::walk(const pst::PstReader& reader, const std::vector<std::uint32_t>& folders,
                    const std::string& parent, std::string& error, int depth) {
    for (std::uint32_t child : folders) {
        auto folder = reader.folder(child);
        if (!folder) {
            error = folder.error();
            return false;
        }
        const std::string name =
            pst::stringProp(folder->props, pst::propid::kDisplayName).value_or("");
        const std::string path = parent.empty() ? name : parent + "/" + name;
        classes_[path] = pst::stringProp(folder->props, pst::propid::kContainerClass).value_or("");
        auto& items = folders_[path];
        for (const pst::TableRow& row : folder->contents) {
            auto message = reader.message(row.rowId);
            if (!message) {
                error = message.error();
                return false;
            }
            items.push_back({message->props, message->recipients});
        }
        if (depth < 64 && !walk(reader, folder->subfolders, path, error, depth + 1))
            return false;
    }
    return true;
}

const std::vector<OwnItem>& OwnStore::items(const std::string& folder) const {
    static const std::vector<OwnItem> none;
    const auto it = folders_.find(folder);
    return it == folders_.end() ? none : it->second;
}

std::string OwnStore::containerClass(const std::string& folder) const {
    const auto it = classes_.find(folder);
    return it == classes_.end() ? std::string() : it->second;
}

std::optional<std::uint16_t> OwnStore::namedId(const mapi::NamedProperty& name) const {
    const auto guid = name.propertySet.bytes();
    for (const pst::NamedProperty& n : names_)
        if (!n.isString && name.isNumeric() && n.number == std::get<std::uint32_t>(name.name) &&
            std::memcmp(n.guid.data(), guid.data(), 16) == 0)
            return n.propId;
    return std::nullopt;
}

std::string OwnStore::text(const OwnItem& item, std::uint16_t id) const {
    return pst::stringProp(item.props, id).value_or("");
}

std::string OwnStore::text(const OwnItem& item, const mapi::NamedProperty& name) const {
    const auto id = namedId(name);
    return id ? text(item, *id) : std::string();
}

std::optional<std::int64_t> OwnStore::integer(const OwnItem& item,
                                              const mapi::NamedProperty& name) const {
    const auto id = namedId(name);
    return id ? pst::integerProp(item.props, *id) : std::nullopt;
}

std::string OwnStore::time(const OwnItem& item, std::uint16_t id) const {
    const auto t = pst::timeProp(item.props, id);
    return t ? pst::filetimeToIso8601(*t) : std::string();
}

std::string OwnStore::time(const OwnItem& item, const mapi::NamedProperty& name) const {
    const auto id = namedId(name);
    return id ? time(item, *id) : std::string();
}

std::optional<std::vector<std::uint8_t>> OwnStore::binary(const OwnItem& item,
                                                          const mapi::NamedProperty& name) const {
    const auto id = namedId(name);
    if (!id)
        return std::nullopt;
    const auto it = item.props.find(*id);
    if (it == item.props.end())
        return std::nullopt;
    return it->second.data;
}

std::vector<std::vector<std::uint8_t>> OwnStore::multi(const OwnItem& item,
                                                       std::uint16_t id) const {
    std::vector<std::vector<std::uint8_t>> out;
    const auto it = item.props.find(id);
    if (it == item.props.end())
        return out;
    const std::vector<std::uint8_t>& d = it->second.data;
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        if (at + 4 > d.size())
            return 0;
        return d[at] | d[at + 1] << 8 | d[at + 2] << 16 |
               static_cast<std::uint32_t>(d[at + 3]) << 24;
    };
    const std::uint32_t count = u32(0);
    if (count > d.size() / 4)
        return out;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t start = u32(4 + 4 * i);
        const std::size_t end = i + 1 < count ? u32(8 + 4 * i) : d.size();
        if (start > end || end > d.size())
            return {};
        out.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(start),
                         d.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return out;
}

} // namespace parvelle::items::test
