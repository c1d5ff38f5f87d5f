#pragma once
// What the third-party readers show of contacts, appointments, tasks, notes and distribution
// lists: per item, named fields as texts.
#include <map>
#include <string>
#include <vector>

namespace parvelle::items::test {

struct KindItem {
    std::string folder;
    std::map<std::string, std::string> fields;
    std::string field(const std::string& name) const {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    }
};

struct KindsSeen {
    std::vector<KindItem> items;
    std::string error;
    bool skipped = false;
    // The item of `folder` whose "subject" field is `subject`.
    const KindItem* item(const std::string& folder, const std::string& subject) const;
};

// pst-extractor through tools/oracles/pstx_kinds.js.
KindsSeen readKindsWithPstExtractor(const std::string& pst);
// readpst: vCards for contacts, iCalendar for appointments, by folder; fields are the content
// lines (name without parameters, unfolded value), several values joined by "\n"; "subject" is
// the SUMMARY or FN.
KindsSeen readKindsWithReadpst(const std::string& pst, const std::string& workDir);
// pffexport: the item folders' text files, fields as "file:key" and whole files by name;
// "subject" is the conversation topic (pffexport mangles some subjects' first character).
KindsSeen readKindsWithPffexport(const std::string& pst, const std::string& workDir);

} // namespace parvelle::items::test
