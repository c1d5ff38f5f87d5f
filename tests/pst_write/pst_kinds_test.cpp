// Contacts, appointments, tasks, notes and distribution lists are property sets: every property
// written must come back with its value, through the store's named-property map, in our reader,
// in pffexport's dump of every item value and in pst-extractor's typed getters.
#include "corpus.h"
#include "oracles.h"
#include "platform/text.h"
#include "store/mapi/tags.h"
#include "store/pst/reader_messaging.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>

namespace parvelle::pst::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t loadLe(const Bytes& b, std::size_t at, std::size_t size) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < size && at + i < b.size(); ++i)
        v |= static_cast<std::uint64_t>(b[at + i]) << (8 * i);
    return v;
}

// The values of a variable-size multi-valued property as MS-PST stores them: a count, one offset
// per value, then the values back to back.
std::vector<Bytes> splitMultiValued(const Bytes& b) {
    std::vector<Bytes> out;
    const std::size_t count = loadLe(b, 0, 4);
    for (std::size_t i = 0; i < count && 4 + 4 * i + 4 <= b.size(); ++i) {
        const std::size_t start = loadLe(b, 4 + 4 * i, 4);
        const std::size_t end = i + 1 < count ? loadLe(b, 8 + 4 * i, 4) : b.size();
        if (start <= end && end <= b.size())
            out.emplace_back(b.begin() + static_cast<long>(start),
                             b.begin() + static_cast<long>(end));
    }
    return out;
}

std::string utf8Of(const Bytes& utf16le) {
    return text::utf16leToUtf8(std::string(utf16le.begin(), utf16le.end()));
}

// Whether stored bytes hold the value that was written, decoded here by the value's type.
std::string differenceFrom(const mapi::PropValue& value, const Bytes& stored) {
    using mapi::PropType;
    const auto& v = value.storage();
    const auto mismatch = [&] { return std::string("stored value differs"); };
    switch (value.type()) {
    case PropType::Unicode:
        return utf8Of(stored) == *value.asString() ? "" : "text \"" + utf8Of(stored) + "\"";
    case PropType::I2:
        return static_cast<std::int16_t>(loadLe(stored, 0, 2)) == std::get<std::int16_t>(v)
                   ? ""
                   : mismatch();
    case PropType::Long:
        return static_cast<std::int32_t>(loadLe(stored, 0, 4)) == std::get<std::int32_t>(v)
                   ? ""
                   : mismatch();
    case PropType::Boolean:
        return (stored.size() >= 1 && (stored[0] != 0) == std::get<bool>(v)) ? "" : mismatch();
    case PropType::SysTime:
        return stored.size() == 8 && loadLe(stored, 0, 8) == std::get<mapi::FileTime>(v).ticks
                   ? ""
                   : mismatch();
    case PropType::Double: {
        double d = 0;
        if (stored.size() == 8)
            std::memcpy(&d, stored.data(), 8);
        return stored.size() == 8 && d == std::get<double>(v) ? "" : mismatch();
    }
    case PropType::Binary:
        return stored == std::get<mapi::Binary>(v) ? "" : mismatch();
    case PropType::MvLong: {
        const auto& want = std::get<std::vector<std::int32_t>>(v);
        if (stored.size() != 4 * want.size())
            return mismatch();
        for (std::size_t i = 0; i < want.size(); ++i)
            if (static_cast<std::int32_t>(loadLe(stored, 4 * i, 4)) != want[i])
                return mismatch();
        return "";
    }
    case PropType::MvBinary:
        return splitMultiValued(stored) == std::get<std::vector<mapi::Binary>>(v) ? "" : mismatch();
    case PropType::MvUnicode: {
        std::vector<std::string> got;
        for (const Bytes& part : splitMultiValued(stored))
            got.push_back(utf8Of(part));
        return got == std::get<std::vector<std::string>>(v) ? "" : mismatch();
    }
    default:
        return "type not compared by this test";
    }
}

class PstItemKinds : public ::testing::Test {
protected:
    void SetUp() override {
        pst_ = (dir_ / "kinds.pst").string();
        std::string error;
        auto store = PstStore::create(pst_, options("Kinds"), error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(writeCorpus(*store, corpus_, error)) << error;
        ASSERT_TRUE(store->close(error)) << error;
    }

    // Each item that is not a mail, with the properties its writer set (the ones the store
    // derives on save depend on the time), keyed by tag as resolved through the file's
    // named-property map.
    struct Written {
        std::string folder;
        std::string subject;
        std::map<std::uint32_t, mapi::PropValue> props;
    };
    std::vector<Written> writtenKinds(const PstReader& reader) {
        auto names = reader.namedProperties();
        EXPECT_TRUE(names) << names.error();
        std::vector<Written> out;
        for (const CorpusFolder& f : corpus_) {
            for (const mapi::Message& m : f.messages) {
                const std::string cls = m.props.string(mapi::tags::kMessageClass);
                if (cls == "IPM.Note")
                    continue;
                Written w{f.path, m.props.string(mapi::tags::kSubject), {}};
                for (const auto& [id, value] : m.props.tagged())
                    w.props[mapi::makeTag(id, value.type())] = value;
                for (const auto& [name, value] : m.props.named()) {
                    for (const NamedProperty& n : names ? *names : std::vector<NamedProperty>{}) {
                        const bool same =
                            mapi::Guid::fromBytes(n.guid.data()) == name.propertySet &&
                            (name.isNumeric()
                                 ? !n.isString && n.number == std::get<std::uint32_t>(name.name)
                                 : n.isString && n.name == std::get<std::string>(name.name));
                        if (same)
                            w.props[mapi::makeTag(n.propId, value.type())] = value;
                    }
                }
                out.push_back(std::move(w));
            }
        }
        return out;
    }

    // Our reader's message with this subject in the folder at this path below the top.
    std::optional<PstMessage> findMessage(const PstReader& reader, const std::string& path,
                                          const std::string& subject) {
        auto nid = reader.ipmSubtree();
        if (!nid)
            return std::nullopt;
        std::uint32_t folder = *nid;
        std::size_t at = 0;
        while (at < path.size()) {
            const std::size_t slash = std::min(path.find('/', at), path.size());
            const std::string name = path.substr(at, slash - at);
            auto current = reader.folder(folder);
            if (!current)
                return std::nullopt;
            bool found = false;
            for (std::uint32_t child : current->subfolders) {
                auto sub = reader.folder(child);
                if (sub && stringProp(sub->props, propid::kDisplayName) == name) {
                    folder = child;
                    found = true;
                }
            }
            if (!found)
                return std::nullopt;
            at = slash + 1;
        }
        auto f = reader.folder(folder);
        for (const TableRow& row : f ? f->contents : std::vector<TableRow>{})
            if (auto m = reader.message(row.rowId);
                m && stringProp(m->props, propid::kSubject) == subject)
                return *m;
        return std::nullopt;
    }

    parvelle::testing::TempDir dir_;
    std::string pst_;
    std::vector<CorpusFolder> corpus_ = richCorpus();
};

TEST_F(PstItemKinds, EveryPropertyComesBackInOurReaderAndInPffexport) {
    EXPECT_EQ(checkerViolations(pst_), "");
    auto reader = PstReader::open(pst_);
    ASSERT_TRUE(reader) << reader.error();
    auto pff = readItemValuesWithPffexport(pst_, dir_.path().string());
    ASSERT_TRUE(pff.skipped || pff.values) << pff.error;
    const auto written = writtenKinds(*reader);
    ASSERT_EQ(written.size(), 5u); // a contact, a list, an appointment, a task and a note
    for (const Written& w : written) {
        const std::string where = w.folder + " / " + w.subject;
        auto message = findMessage(*reader, w.folder, w.subject);
        ASSERT_TRUE(message) << where;
        for (const auto& [tag, value] : w.props) {
            const auto stored = message->props.find(static_cast<std::uint16_t>(tag >> 16));
            ASSERT_NE(stored, message->props.end()) << where << ": " << hexId(tag) << " missing";
            EXPECT_EQ(stored->second.type, static_cast<std::uint16_t>(tag)) << where;
            EXPECT_EQ(differenceFrom(value, stored->second.data), "")
                << where << ": " << hexId(tag);
        }
        if (pff.skipped)
            continue;
        // libpff decodes the same property context to the same tags and bytes.
        const auto& seen = (*pff.values)[w.folder][w.subject];
        ASSERT_FALSE(seen.empty()) << where << ": not exported by pffexport";
        std::map<std::uint32_t, Bytes> ours;
        for (const auto& [id, raw] : message->props)
            ours[(static_cast<std::uint32_t>(id) << 16) | raw.type] = raw.data;
        EXPECT_EQ(seen, ours) << where;
    }
}

// What pst-extractor's getters show, each set by a property written above (names from its
// OutlookProperties; it reads companyName from a wrong tag, so that one is left out).
TEST_F(PstItemKinds, PstExtractorShowsTheFieldsWritten) {
    auto pstx = readFieldsWithPstExtractor(pst_);
    if (pstx.skipped)
        GTEST_SKIP() << "pst-extractor not installed";
    ASSERT_TRUE(pstx.fields) << pstx.error;
    struct Field {
        std::string folder, subject, field, value;
    };
    const std::vector<Field> expected{
        {"Contacts", "Zoë Müller", "givenName", "Zoë"},
        {"Contacts", "Zoë Müller", "surname", "Müller"},
        {"Contacts", "Zoë Müller", "email1EmailAddress", "zoe@example.org"},
        {"Contacts", "Zoë Müller", "email1DisplayName", "Zoë Müller (zoe@example.org)"},
        {"Contacts", "Zoë Müller", "email1AddressType", "SMTP"},
        {"Contacts", "Zoë Müller", "fileUnder", "Müller, Zoë"},
        {"Contacts", "Zoë Müller", "businessTelephoneNumber", "+49 30 1234"},
        {"Contacts", "Zoë Müller", "mobileTelephoneNumber", "+49 170 5678"},
        {"Contacts", "Zoë Müller", "birthday", "1990-01-01T00:00:00Z"},
        {"Contacts", "Team list", "member0", "Ann Åberg <ann@example.org>"},
        {"Contacts", "Team list", "member1", "Bob Brown <bob@example.org>"},
        {"Calendar", "Planning meeting", "location", "Room 4 – Süd"},
        {"Calendar", "Planning meeting", "startTime", "2023-11-14T23:13:20Z"},
        {"Calendar", "Planning meeting", "endTime", "2023-11-15T00:13:20Z"},
        {"Calendar", "Planning meeting", "duration", "60"},
        {"Calendar", "Planning meeting", "busyStatus", "2"},
        {"Calendar", "Planning meeting", "reminderSet", "true"},
        {"Calendar", "Planning meeting", "reminderDelta", "15"},
        {"Tasks", "Write the report", "taskStatus", "1"},
        {"Tasks", "Write the report", "percentComplete", "0.5"},
        {"Tasks", "Write the report", "isTaskComplete", "false"},
        {"Notes", "Buy milk", "body", "Buy milk\r\nand bread"},
    };
    for (const Field& f : expected)
        EXPECT_EQ((*pstx.fields)[f.folder][f.subject][f.field], f.value)
            << f.folder << " / " << f.subject << " / " << f.field;
}

} // namespace
} // namespace parvelle::pst::test
