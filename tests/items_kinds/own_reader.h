#pragma once
// The items of a PST as our own reader sees them, with named properties looked up by their
// property set and id.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/mapi/property.h"
#include "store/pst/reader_messaging.h"

namespace parvelle::items::test {

struct OwnItem {
    pst::PropertyMap props;
    std::vector<pst::PropertyMap> recipients;
};

class OwnStore {
public:
    // Empty with `error` set when the file cannot be read.
    static OwnStore read(const std::string& path, std::string& error);

    // Items and container class of a folder by its path below the top ("Calendar/Birthdays").
    const std::vector<OwnItem>& items(const std::string& folder) const;
    std::string containerClass(const std::string& folder) const;

    // The property id standing for a named property in this file, if any.
    std::optional<std::uint16_t> namedId(const mapi::NamedProperty& name) const;

    std::string text(const OwnItem& item, std::uint16_t id) const;
    std::string text(const OwnItem& item, const mapi::NamedProperty& name) const;
    std::optional<std::int64_t> integer(const OwnItem& item, const mapi::NamedProperty& name) const;
    // "YYYY-MM-DDThh:mm:ssZ", or empty when absent.
    std::string time(const OwnItem& item, std::uint16_t id) const;
    std::string time(const OwnItem& item, const mapi::NamedProperty& name) const;
    std::optional<std::vector<std::uint8_t>> binary(const OwnItem& item,
                                                    const mapi::NamedProperty& name) const;
    // The values of a multi-valued property (binary or Unicode) as byte strings.
    std::vector<std::vector<std::uint8_t>> multi(const OwnItem& item, std::uint16_t id) const;

private:
    bool walk(const pst::PstReader& reader, const std::vector<std::uint32_t>& folders,
              const std::string& parent, std::string& error, int depth);

    std::map<std::string, std::vector<OwnItem>> folders_;
    std::map<std::string, std::string> classes_;
    std::vector<pst::NamedProperty> names_;
};

} // namespace parvelle::items::test
