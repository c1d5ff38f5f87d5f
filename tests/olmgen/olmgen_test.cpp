// The fixture generator must write what Outlook writes, byte for byte where the readers depend on
// bytes; these tests check the archives with an independent header walk and with Python's own
// ZIP and XML readers, and keep the committed sample equal to what the generator makes now.
#include "olmgen/olmgen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <unistd.h>

namespace parvelle::olmgen {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint64_t le(const std::string& bytes, std::uint64_t at, int n) {
    std::uint64_t value = 0;
    for (int i = n - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    }
    return value;
}

// One local header as found by walking the file from the start, trusting nothing but the
// ZIP64 extra field's compressed size to reach the next header.
struct LocalHeader {
    std::uint64_t offset = 0;
    std::uint16_t version = 0;
    std::uint16_t method = 0;
    std::uint32_t size32Compressed = 0;
    std::uint32_t size32Uncompressed = 0;
    std::uint16_t extraLength = 0;
    std::uint16_t extraId = 0;
    std::uint16_t extraDataSize = 0;
    std::uint64_t uncompressed = 0;
    std::uint64_t compressed = 0;
    std::string name;
    std::uint64_t dataOffset = 0;
};

struct Walk {
    std::vector<LocalHeader> headers;
    std::uint64_t stoppedAt = 0; // first offset that does not start a local header
};

Walk walkLocalHeaders(const std::string& bytes) {
    Walk walk;
    std::uint64_t pos = 0;
    while (pos + 30 <= bytes.size() && le(bytes, pos, 4) == 0x04034b50) {
        LocalHeader h;
        h.offset = pos;
        h.version = static_cast<std::uint16_t>(le(bytes, pos + 4, 2));
        h.method = static_cast<std::uint16_t>(le(bytes, pos + 8, 2));
        h.size32Compressed = static_cast<std::uint32_t>(le(bytes, pos + 18, 4));
        h.size32Uncompressed = static_cast<std::uint32_t>(le(bytes, pos + 22, 4));
        const std::uint64_t nameLength = le(bytes, pos + 26, 2);
        h.extraLength = static_cast<std::uint16_t>(le(bytes, pos + 28, 2));
        if (pos + 30 + nameLength + std::max<std::uint64_t>(h.extraLength, 20) > bytes.size()) {
            break;
        }
        h.name = bytes.substr(pos + 30, nameLength);
        const std::uint64_t extra = pos + 30 + nameLength;
        h.extraId = static_cast<std::uint16_t>(le(bytes, extra, 2));
        h.extraDataSize = static_cast<std::uint16_t>(le(bytes, extra + 2, 2));
        h.uncompressed = le(bytes, extra + 4, 8);
        h.compressed = le(bytes, extra + 12, 8);
        h.dataOffset = extra + h.extraLength;
        walk.headers.push_back(h);
        pos = h.dataOffset + h.compressed;
    }
    walk.stoppedAt = pos;
    return walk;
}

// Member data of a stored archive, by name.
std::map<std::string, std::string> storedMembers(const std::string& bytes) {
    std::map<std::string, std::string> members;
    for (const LocalHeader& h : walkLocalHeaders(bytes).headers) {
        members[h.name] = bytes.substr(h.dataOffset, h.compressed);
    }
    return members;
}

struct RunResult {
    int status = -1;
    std::string output;
};

RunResult runChecker(const fs::path& archive, const fs::path& scratch) {
    const fs::path output = scratch / "checker.out";
    const std::string command = "/usr/bin/python3 '" PARVELLE_SOURCE_DIR
                                "/tests/olmgen/check_archive.py' '" +
                                archive.string() + "' > '" + output.string() + "' 2>&1";
    RunResult result;
    result.status = std::system(command.c_str());
    result.output = readFile(output);
    return result;
}

class OlmgenTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = fs::temp_directory_path() /
                   ("olmgen_test_" + std::to_string(::getpid()) + "_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(scratch_);
    }
    void TearDown() override { fs::remove_all(scratch_); }

    fs::path write(const ArchiveDescription& description, const std::string& name,
                   const WriteOptions& options = {}) {
        const fs::path path = scratch_ / name;
        const WriteResult result = writeArchive(description, path, options);
        EXPECT_TRUE(result.ok()) << result.error;
        lastFacts_ = result.facts;
        return path;
    }

    static bool havePython() { return fs::exists("/usr/bin/python3"); }

    fs::path scratch_;
    ArchiveFacts lastFacts_;
};

LargeOptions smallLarge() {
    LargeOptions options;
    options.mails = 60;
    options.attachmentBytes = 3 * 1024 * 1024;
    options.contacts = 12;
    options.groups = 3;
    options.events = 12;
    options.tasks = 5;
    options.notes = 5;
    options.seed = 7;
    return options;
}

TEST_F(OlmgenTest, CommittedSampleEqualsWhatTheGeneratorMakes) {
    const fs::path fresh = write(sampleDescription(), "sample.olm");
    const std::string committed = readFile(PARVELLE_SOURCE_DIR "/samples/sample.olm");
    ASSERT_FALSE(committed.empty()) << "samples/sample.olm is missing";
    EXPECT_TRUE(committed == readFile(fresh))
        << "samples/sample.olm is stale; regenerate it with: olmgen sample samples/sample.olm";
    EXPECT_LT(committed.size(), 1024u * 1024u);
}

// Every local header is Outlook's: version 45, 32-bit sizes deferred to a 20-byte ZIP64 extra
// field (id 1, 16 data bytes); the headers tile the file up to the central directory.
TEST_F(OlmgenTest, LocalHeadersCarryVersion45AndTheZip64ExtraField) {
    for (const Compression compression : {Compression::Stored, Compression::Deflated}) {
        SCOPED_TRACE(compression == Compression::Stored ? "stored" : "deflated");
        const std::string bytes =
            readFile(write(sampleDescription(), "a.olm", {compression, Damage::None}));
        const Walk walk = walkLocalHeaders(bytes);
        ASSERT_GT(walk.headers.size(), 50u);
        std::size_t files = 0;
        for (const LocalHeader& h : walk.headers) {
            SCOPED_TRACE(h.name);
            EXPECT_EQ(h.version, 45);
            EXPECT_EQ(h.extraLength, 20);
            EXPECT_EQ(h.extraId, 1);
            EXPECT_EQ(h.extraDataSize, 16);
            EXPECT_EQ(h.size32Compressed, 0xFFFFFFFFu);
            EXPECT_EQ(h.size32Uncompressed, 0xFFFFFFFFu);
            const bool directory = h.name.ends_with("/");
            if (directory) {
                EXPECT_EQ(h.uncompressed, 0u);
                EXPECT_EQ(h.method, 0);
            } else {
                ++files;
                EXPECT_EQ(h.method, static_cast<std::uint16_t>(compression));
                if (compression == Compression::Stored) {
                    EXPECT_EQ(h.compressed, h.uncompressed);
                }
            }
        }
        EXPECT_EQ(le(bytes, walk.stoppedAt, 4), 0x02014b50u) << "central directory expected";
        // Directory members exist for every level, so every file's folder is one of them.
        std::set<std::string> directories;
        for (const LocalHeader& h : walk.headers) {
            if (h.name.ends_with("/")) {
                directories.insert(h.name);
            }
        }
        for (const LocalHeader& h : walk.headers) {
            const std::size_t slash = h.name.rfind('/', h.name.size() - 2);
            if (slash != std::string::npos) {
                EXPECT_TRUE(directories.count(h.name.substr(0, slash + 1))) << h.name;
            }
        }
        EXPECT_GT(files, 40u);
    }
}

// Python's zipfile (CRCs, central directory, ZIP64 records) and its XML parser (well-formed
// documents, alphabetical children and attributes, aggregate shape, attachment URLs and sizes)
// accept stored and deflated archives, small and large; so does Info-ZIP's unzip when present.
TEST_F(OlmgenTest, PythonZipfileAndUnzipAcceptStoredAndDeflatedArchives) {
    if (!havePython()) {
        GTEST_SKIP() << "/usr/bin/python3 not found";
    }
    const struct {
        const char* name;
        ArchiveDescription description;
        Compression compression;
    } cases[] = {
        {"sample-stored.olm", sampleDescription(), Compression::Stored},
        {"sample-deflated.olm", sampleDescription(), Compression::Deflated},
        {"large-stored.olm", largeDescription(smallLarge()), Compression::Stored},
        {"large-deflated.olm", largeDescription(smallLarge()), Compression::Deflated},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = write(c.description, c.name, {c.compression, Damage::None});
        const RunResult python = runChecker(path, scratch_);
        EXPECT_EQ(python.status, 0) << python.output;
        if (fs::exists("/usr/bin/unzip")) {
            const std::string command = "/usr/bin/unzip -tqq '" + path.string() + "' >/dev/null";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
    }
}

// The aggregate splitter cuts documents by exact bytes: the root start tag (whose length is
// the splitter's skip while elementCount has one digit), item start tags with nothing between
// them, and the root end tag as the document's last bytes.
TEST_F(OlmgenTest, AggregateDocumentsHaveTheSplittersByteForm) {
    ItemFolder folder;
    folder.path = "Things";
    folder.contacts = {Contact{}, Contact{}};
    folder.contacts[0].displayName = "A";
    folder.contacts[1].displayName = "B";
    folder.groups = {Group{"G1", {}, "", "", {}}, Group{"G2", {}, "", "", {}}};
    folder.tasks = {Task{}, Task{}};
    folder.notes = {Note{"N1", "", "", "", "", {}}, Note{"N2", "", "", "", "", {}}};
    folder.events = {Event{}, Event{}};
    ArchiveDescription description;
    description.accounts = {{"acct", {}, {folder}}};
    const auto members = storedMembers(readFile(write(description, "aggregates.olm")));

    const struct {
        const char* document;
        const char* itemTag;
        std::size_t tagLength;
        std::size_t tailLength;
        std::size_t skip;
    } table[] = {
        {"Contacts.xml", "<contact xml:space=\"preserve\">", 30, 11, 48},
        {"Groups.xml", "<group xml:space=\"preserve\">", 28, 9, 46},
        {"Tasks.xml", "<task xml:space=\"preserve\">", 27, 8, 45},
        {"Notes.xml", "<note xml:space=\"preserve\">", 27, 8, 45},
        {"Calendar.xml", "<appointment xml:space=\"preserve\">", 34, 15, 52},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.document);
        const auto found = members.find(std::string("Accounts/acct/Things/") + row.document);
        ASSERT_NE(found, members.end());
        const std::string& data = found->second;
        const std::string itemTag = row.itemTag;
        ASSERT_EQ(itemTag.size(), row.tagLength);
        EXPECT_EQ(data.compare(row.skip, itemTag.size(), itemTag), 0)
            << "first item must start right after the root start tag: " << data.substr(0, 80);
        EXPECT_NE(data.substr(0, row.skip).find("elementCount=\"2\""), std::string::npos);
        const std::size_t second = data.find(itemTag, row.skip + 1);
        ASSERT_NE(second, std::string::npos);
        const std::string itemEnd = "</" + itemTag.substr(1, itemTag.find(' ') - 1) + ">";
        EXPECT_EQ(data.compare(second - itemEnd.size(), itemEnd.size(), itemEnd), 0);
        const std::string tail = data.substr(data.size() - row.tailLength);
        EXPECT_EQ(tail.substr(0, 2), "</");
        EXPECT_EQ(
            data.compare(data.size() - row.tailLength - itemEnd.size(), itemEnd.size(), itemEnd),
            0);
        EXPECT_EQ(data.find(itemTag, second + 1), std::string::npos);
    }
}

TEST_F(OlmgenTest, SameOptionsGiveTheSameBytes) {
    for (const Compression compression : {Compression::Stored, Compression::Deflated}) {
        const WriteOptions options{compression, Damage::None};
        const std::string first = readFile(write(largeDescription(smallLarge()), "1.olm", options));
        const std::string second =
            readFile(write(largeDescription(smallLarge()), "2.olm", options));
        EXPECT_TRUE(first == second);
        LargeOptions reseeded = smallLarge();
        reseeded.seed += 1;
        EXPECT_FALSE(first == readFile(write(largeDescription(reseeded), "3.olm", options)));
    }
}

// The facts name what a correct reader finds: documents and attachment members exist with the
// given bytes, keys follow the scanner's rules, display names the mail reader's.
TEST_F(OlmgenTest, FactsDescribeTheWrittenArchive) {
    const auto members = storedMembers(readFile(write(sampleDescription(), "sample.olm")));
    const ArchiveFacts facts = lastFacts_;
    std::set<std::string> keys;
    for (const FolderFacts& folder : facts.folders) {
        keys.insert(folder.key);
        EXPECT_TRUE(members.count(folder.directoryPath)) << folder.directoryPath;
    }
    std::map<ItemKind, std::size_t> kinds;
    std::map<std::string, const AttachmentFacts*> attachmentsByName;
    for (const ItemFacts& item : facts.items) {
        ++kinds[item.kind];
        EXPECT_TRUE(keys.count(item.folderKey)) << item.folderKey;
        const auto document = members.find(item.documentPath);
        ASSERT_NE(document, members.end()) << item.documentPath;
        std::string escaped;
        for (char c : item.subject) {
            escaped += c == '&'   ? "&amp;"
                       : c == '<' ? "&lt;"
                       : c == '>' ? "&gt;"
                                  : std::string(1, c);
        }
        EXPECT_NE(document->second.find(">" + escaped + "<"), std::string::npos) << item.subject;
        for (const AttachmentFacts& attachment : item.attachments) {
            const auto member = members.find(attachment.memberPath);
            ASSERT_NE(member, members.end()) << attachment.memberPath;
            EXPECT_TRUE(member->second == attachment.content.bytes()) << attachment.memberPath;
            attachmentsByName[attachment.name] = &attachment;
        }
    }
    for (const ItemKind kind : {ItemKind::Mail, ItemKind::Contact, ItemKind::Group, ItemKind::Event,
                                ItemKind::Task, ItemKind::Note}) {
        EXPECT_GE(kinds[kind], 2u);
    }
    for (const char* key :
         {"jane.doe@example.com/Inbox/Projects/2024", "Local/Archive/2023",
          "jane.doe@example.com/Birthdays", "Local/Address Book", "kenji.sato@example.jp/أرشيف"}) {
        EXPECT_TRUE(keys.count(key)) << key;
    }

    const struct {
        const char* name;
        const char* displayName;
        const char* memberKey; // empty: only checked to be non-empty
    } expected[] = {
        {"notes", "notes.eml", ""},
        {"a/b:c?.txt", "a_b_c_.txt", ""},
        {"signed-off.txt", "signed-off.txt", "CAF1234.reply0000"},
        {"photo_1234.jpeg", "photo_1234.jpeg", "photo_123jpeg"},
        {"empty.txt", "empty.txt", ""},
    };
    for (const auto& row : expected) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(attachmentsByName.count(row.name));
        const AttachmentFacts& attachment = *attachmentsByName[row.name];
        EXPECT_EQ(attachment.displayName, row.displayName);
        if (*row.memberKey) {
            EXPECT_EQ(attachment.memberKey, row.memberKey);
        } else {
            EXPECT_FALSE(attachment.memberKey.empty());
        }
    }
    EXPECT_EQ(attachmentsByName["empty.txt"]->content.size(), 0u);
}

// Scanner tests build odd archives member by member: every byte must land where the writer's
// records say, including members the central directory leaves out and cut-off members.
TEST_F(OlmgenTest, ZipWriterBuildsOddArchivesMemberByMember) {
    const fs::path path = scratch_ / "odd.zip";
    ZipWriter zip(path);
    zip.addDirectory("Accounts/");
    zip.addFile("Accounts/a.txt", "hello");
    zip.writeRaw("JUNK");
    MemberOptions deflated;
    deflated.compression = Compression::Deflated;
    zip.addFile("Accounts/b.xml", std::string(10000, 'x'), deflated);
    MemberOptions hidden;
    hidden.inCentralDirectory = false;
    zip.addFile("Accounts/hidden.bin", "secret", hidden);
    MemberOptions cut;
    cut.dataBytesWritten = 3;
    zip.addFile("Accounts/cut.bin", "0123456789", cut);
    zip.addFile("Accounts/after.txt", "after");
    ASSERT_TRUE(zip.finish()) << zip.error();

    const std::string bytes = readFile(path);
    const std::vector<MemberRecord>& m = zip.members();
    ASSERT_EQ(m.size(), 6u);
    EXPECT_EQ(bytes.substr(m[1].dataOffset, 9), "helloJUNK");
    EXPECT_EQ(m[2].headerOffset, m[1].dataOffset + 9);
    EXPECT_EQ(m[2].uncompressedSize, 10000u);
    EXPECT_LT(m[2].compressedSize, 100u);
    EXPECT_EQ(bytes.substr(m[3].dataOffset, 6), "secret");
    // The cut member's header promises all ten bytes; three are there, then the next header.
    EXPECT_EQ(m[4].crc, Payload("0123456789").crc32());
    EXPECT_EQ(le(bytes, m[4].headerOffset + 30 + m[4].name.size() + 4, 8), 10u);
    EXPECT_EQ(bytes.substr(m[4].dataOffset, 3), "012");
    EXPECT_EQ(m[5].headerOffset, m[4].dataOffset + 3);
    EXPECT_EQ(bytes.substr(m[5].headerOffset, 4), std::string("PK\x03\x04", 4));

    if (!havePython()) {
        return;
    }
    const fs::path script = scratch_ / "list.py";
    std::ofstream(script) << "import sys, zipfile\n"
                             "z = zipfile.ZipFile(sys.argv[1])\n"
                             "print(','.join(z.namelist()))\n"
                             "print(z.read('Accounts/b.xml') == b'x' * 10000,"
                             " z.read('Accounts/after.txt').decode())\n";
    const fs::path output = scratch_ / "list.out";
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + path.string() +
                                "' > '" + output.string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(output);
    EXPECT_EQ(readFile(output), "Accounts/,Accounts/a.txt,Accounts/b.xml,Accounts/cut.bin,"
                                "Accounts/after.txt\nTrue after\n");
}

// Each damage mode breaks the archive the way it promises, and only there.
TEST_F(OlmgenTest, DamageModesBreakWhatTheyName) {
    if (!havePython()) {
        GTEST_SKIP() << "/usr/bin/python3 not found";
    }
    const struct {
        Damage damage;
        bool pythonAccepts;
        const char* pythonComplaint; // expected in the checker's output when it rejects
    } table[] = {
        {Damage::GarbageBetweenMembers, true, ""},
        {Damage::TruncatedFinalMember, false, "BadZipFile"},
        {Damage::CorruptLocalSignature, false, "CRC or data error in"},
        {Damage::WrongExtraFieldLength, true, ""},
        {Damage::NoDirectoryMembers, false, "no directory member"},
        {Damage::BadCrc, false, "CRC or data error in"},
        {Damage::BrokenXml, false, "not well-formed"},
    };
    const std::string clean = readFile(write(sampleDescription(), "clean.olm"));
    const std::size_t cleanHeaders = walkLocalHeaders(clean).headers.size();
    for (const auto& row : table) {
        const std::string name = std::string(damageName(row.damage));
        SCOPED_TRACE(name);
        ASSERT_EQ(damageFromName(name), row.damage);
        const fs::path path =
            write(sampleDescription(), name + ".olm", {Compression::Stored, row.damage});
        const std::string bytes = readFile(path);
        const std::string damaged = lastFacts_.damagedMember;
        if (row.damage != Damage::NoDirectoryMembers) {
            EXPECT_FALSE(damaged.empty());
        }
        const RunResult python = runChecker(path, scratch_);
        if (row.pythonAccepts) {
            EXPECT_EQ(python.status, 0) << python.output;
        } else {
            EXPECT_NE(python.status, 0);
            EXPECT_NE(python.output.find(row.pythonComplaint), std::string::npos) << python.output;
            if (row.damage == Damage::CorruptLocalSignature || row.damage == Damage::BadCrc ||
                row.damage == Damage::BrokenXml) {
                EXPECT_NE(python.output.find(damaged), std::string::npos) << python.output;
            }
        }

        const Walk walk = walkLocalHeaders(bytes);
        switch (row.damage) {
        case Damage::GarbageBetweenMembers:
        case Damage::CorruptLocalSignature:
            // A strict walk stops at the damage, short of the central directory.
            EXPECT_LT(walk.headers.size(), cleanHeaders);
            EXPECT_NE(le(bytes, walk.stoppedAt, 4), 0x02014b50u);
            if (row.damage == Damage::GarbageBetweenMembers) {
                EXPECT_EQ(walk.headers.back().name, damaged);
            } else {
                EXPECT_EQ(bytes.substr(walk.stoppedAt, 4), std::string("PK\x02\x04", 4));
            }
            break;
        case Damage::WrongExtraFieldLength:
            for (const LocalHeader& h : walk.headers) {
                EXPECT_EQ(h.extraLength, h.name == damaged ? 29 : 20) << h.name;
            }
            break;
        case Damage::NoDirectoryMembers:
            for (const LocalHeader& h : walk.headers) {
                EXPECT_FALSE(h.name.ends_with("/")) << h.name;
            }
            break;
        case Damage::TruncatedFinalMember:
            ASSERT_FALSE(walk.headers.empty());
            EXPECT_EQ(walk.headers.back().name, damaged);
            EXPECT_LT(bytes.size(),
                      walk.headers.back().dataOffset + walk.headers.back().compressed);
            break;
        default:
            EXPECT_EQ(walk.headers.size(), cleanHeaders);
            break;
        }
    }
}

} // namespace
} // namespace parvelle::olmgen
