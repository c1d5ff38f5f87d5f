#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "mailbox/archive_reader.h"
#include "mailbox/zip_walk.h"
#include "olmgen/zip_writer.h"
#include "platform/mapped_file.h"
#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

using olmgen::Compression;
using olmgen::MemberOptions;
using olmgen::ZipWriter;

std::vector<ZipMember> walk(const std::filesystem::path& path) {
    platform::MappedFile file;
    EXPECT_TRUE(file.open(path.string()));
    std::vector<ZipMember> members;
    ZipWalkCallbacks cb;
    cb.member = [&](const ZipMember& m) { members.push_back(m); };
    walkZip(file.bytes(), cb);
    return members;
}

std::string readItem(const std::filesystem::path& path, const ZipMember& m) {
    ArchiveReader reader;
    EXPECT_TRUE(reader.open(path.string()));
    ItemSource source{m.dataOffset,          m.size, m.method, m.method ? m.packedSize : 0,
                      m.method ? m.size : 0, 0};
    return reader.read(source).value_or("<unreadable>");
}

TEST(ZipWalk, LocatesStoredAndDeflatedMembersAsWritten) {
    parvelle::testing::TempDir dir;
    const auto path = dir / "a.olm";
    const std::string text(5000, 'x');
    std::vector<olmgen::MemberRecord> written;
    {
        ZipWriter w(path);
        w.addDirectory("Accounts/a/");
        w.addFile("Accounts/a/one.xml", "first member");
        MemberOptions deflate;
        deflate.compression = Compression::Deflated;
        w.addFile("Accounts/a/two.xml", text, deflate);
        w.addFile("Accounts/a/empty", "");
        ASSERT_TRUE(w.finish());
        written = w.members();
    }
    const auto members = walk(path);
    ASSERT_EQ(members.size(), written.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(written[i].name);
        EXPECT_EQ(members[i].name, written[i].name);
        EXPECT_EQ(members[i].headerOffset, static_cast<std::int64_t>(written[i].headerOffset));
        EXPECT_EQ(members[i].dataOffset, static_cast<std::int64_t>(written[i].dataOffset));
        EXPECT_EQ(members[i].size, static_cast<std::int64_t>(written[i].uncompressedSize));
        EXPECT_EQ(members[i].isDirectory, written[i].isDirectory);
    }
    // A file member with no data is still a file, not a folder.
    EXPECT_FALSE(members[3].isDirectory);
    EXPECT_EQ(readItem(path, members[1]), "first member");
    EXPECT_EQ(members[2].method, 8);
    EXPECT_LT(members[2].packedSize, members[2].size);
    EXPECT_EQ(readItem(path, members[2]), text);
}

TEST(ZipWalk, SkipsForeignBytesAndOddExtraFieldsWithoutLosingLaterMembers) {
    parvelle::testing::TempDir dir;
    const auto path = dir / "b.olm";
    {
        ZipWriter w(path);
        w.addFile("x/first.xml", "1");
        static constexpr char kGarbage[] = "garbage PK\x03 PK\x05\x06 more garbage";
        w.writeRaw(std::string_view(kGarbage, sizeof kGarbage - 1));
        MemberOptions wideExtra;
        static constexpr char kTail[] = "\x99\x99\x05\x00"
                                        "abcde";
        wideExtra.extraFieldTail = std::string(kTail, sizeof kTail - 1);
        w.addFile("x/second.xml", "22", wideExtra);
        MemberOptions badSignature;
        badSignature.signature = 0x06054b50;
        w.addFile("x/hidden.xml", "333", badSignature);
        w.addFile("x/third.xml", "4444");
        ASSERT_TRUE(w.closeWithoutCentralDirectory());
    }
    const auto members = walk(path);
    std::vector<std::string> names;
    for (const auto& m : members)
        names.push_back(m.name);
    EXPECT_EQ(names, (std::vector<std::string>{"x/first.xml", "x/second.xml", "x/third.xml"}));
    EXPECT_EQ(readItem(path, members[1]), "22");
    EXPECT_EQ(readItem(path, members[2]), "4444");
}

TEST(ZipWalk, TruncatedMemberIsDroppedAndCorruptDeflateIsUnreadable) {
    parvelle::testing::TempDir dir;
    const auto path = dir / "c.olm";
    {
        ZipWriter w(path);
        w.addFile("x/whole.xml", "complete");
        MemberOptions cut;
        cut.dataBytesWritten = 3;
        w.addFile("x/cut.xml", "0123456789", cut);
        ASSERT_TRUE(w.closeWithoutCentralDirectory());
    }
    const auto members = walk(path);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].name, "x/whole.xml");

    std::string out;
    const std::uint8_t junk[] = {1, 2, 3, 4, 5};
    EXPECT_FALSE(inflateRaw(junk, 10, out));
    // An empty input never pretends to hold data.
    EXPECT_FALSE(inflateRaw({}, 1, out));
}

// The walk reads the archive through small windows of the file; whatever the window size, it
// must find the members and bytes the walk over the whole mapping finds.
TEST(ZipWalk, WalkingThroughFileWindowsFindsWhatTheMappedWalkFinds) {
    parvelle::testing::TempDir dir;
    const auto withDirectory = dir / "d.olm";
    const auto damaged = dir / "e.olm";
    MemberOptions deflate;
    deflate.compression = Compression::Deflated;
    {
        ZipWriter w(withDirectory);
        w.addDirectory("Accounts/a/");
        for (int i = 0; i < 12; ++i)
            w.addFile("Accounts/a/m" + std::to_string(i) + ".xml",
                      std::string(static_cast<std::size_t>(i * 37), 'a' + i),
                      i % 3 == 0 ? deflate : MemberOptions{});
        ASSERT_TRUE(w.finish());
    }
    {
        ZipWriter w(damaged);
        w.addFile("x/first.xml", "1");
        for (int i = 0; i < 6; ++i) {
            static constexpr char kGarbage[] = "junk PK\x03 PK PK\x01\x02 junk";
            w.writeRaw(std::string_view(kGarbage, sizeof kGarbage - 1));
            w.addFile("x/n" + std::to_string(i) + ".xml",
                      std::string(static_cast<std::size_t>(i * 11), 'z'));
        }
        ASSERT_TRUE(w.closeWithoutCentralDirectory());
    }
    for (const auto& path : {withDirectory, damaged}) {
        const auto expected = walk(path);
        ASSERT_FALSE(expected.empty());
        platform::MappedFile file;
        ASSERT_TRUE(file.open(path.string()));
        for (const std::size_t window : {1, 5, 31, 64, 200, 1 << 17}) {
            SCOPED_TRACE(path.filename().string() + " window " + std::to_string(window));
            ArchiveWindow source(file.bytes(), window);
            ASSERT_TRUE(source.open(path.string()));
            std::vector<ZipMember> members;
            ZipWalkCallbacks cb;
            InflatedMember inflated;
            std::vector<std::string> bytes;
            cb.member = [&](const ZipMember& m) {
                members.push_back(m);
                ItemSource item{
                    m.dataOffset,          m.size, m.method, m.method ? m.packedSize : 0,
                    m.method ? m.size : 0, 0};
                bytes.push_back(
                    std::string(viewItemBytes(source, item, inflated).value_or("<unreadable>")));
            };
            walkZip(source, cb);
            ASSERT_EQ(members.size(), expected.size());
            for (std::size_t i = 0; i < members.size(); ++i) {
                EXPECT_EQ(members[i].name, expected[i].name);
                EXPECT_EQ(members[i].headerOffset, expected[i].headerOffset);
                EXPECT_EQ(members[i].dataOffset, expected[i].dataOffset);
                EXPECT_EQ(members[i].size, expected[i].size);
                EXPECT_EQ(members[i].packedSize, expected[i].packedSize);
                EXPECT_EQ(members[i].method, expected[i].method);
                EXPECT_EQ(bytes[i], readItem(path, expected[i]));
            }
        }
    }
}

TEST(ZipWalk, NotAnArchiveYieldsNoMembers) {
    parvelle::testing::TempDir dir;
    const auto path = dir / "plain.txt";
    std::ofstream(path) << "Just some text, PK but no header.";
    EXPECT_TRUE(walk(path).empty());
}

} // namespace
} // namespace parvelle::mailbox
