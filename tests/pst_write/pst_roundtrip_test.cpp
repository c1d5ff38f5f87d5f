// Files written by the PST writer, read back by our own reader and the third-party readers, and
// checked for consistency.
#include "corpus.h"
#include "oracles.h"
#include "store/mapi/tags.h"
#include "store/pst/reader_messaging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>

namespace parvelle::pst::test {
namespace {

namespace fs = std::filesystem;

// What a reader is known to show and hide (see the notes on the third-party readers).
struct Profile {
    bool classes = true;
    bool bodies = true;
    bool recipients = true;
    bool attachmentNames = true;
    bool embedded = true;
    bool emptyFolders = true;
    bool emptyAttachments = true;      // readpst writes no file for an empty attachment
    std::set<std::string> onlyClasses; // empty: every class
    std::function<std::string(std::size_t index, const std::string&)> attachmentName;
};

std::string trimEnd(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// Outlook may store a subject behind a two-character prefix-length marker ("\x01\x01").
std::string plainSubject(const std::string& s) {
    return s.size() >= 2 && s[0] == '\x01' ? s.substr(2) : s;
}

std::vector<std::string> differences(const SeenStore& expected, const SeenStore& seen,
                                     const Profile& p) {
    std::vector<std::string> out;
    auto shown = [&](const SeenItem& i) {
        return p.onlyClasses.empty() || p.onlyClasses.count(i.messageClass) > 0;
    };
    for (const auto& [path, items] : expected.folders) {
        std::vector<const SeenItem*> want;
        for (const SeenItem& i : items)
            if (shown(i))
                want.push_back(&i);
        auto it = seen.folders.find(path);
        if (it == seen.folders.end()) {
            if (p.emptyFolders || !want.empty())
                out.push_back("folder \"" + path + "\" missing");
            continue;
        }
        if (it->second.size() != want.size()) {
            out.push_back("folder \"" + path + "\": " + std::to_string(it->second.size()) +
                          " items, expected " + std::to_string(want.size()));
            continue;
        }
        for (const SeenItem* w : want) {
            const SeenItem* got = nullptr;
            for (const SeenItem& s : it->second)
                if (plainSubject(s.subject) == plainSubject(w->subject))
                    got = &s;
            const std::string where = path + " / \"" + w->subject.substr(0, 40) + "\": ";
            if (!got) {
                out.push_back(where + "not found");
                continue;
            }
            if (p.classes && got->messageClass != w->messageClass)
                out.push_back(where + "class " + got->messageClass);
            if (p.bodies && !w->body.empty() && trimEnd(got->body) != trimEnd(w->body))
                out.push_back(where + "body differs");
            if (p.recipients && got->recipientEmails != w->recipientEmails)
                out.push_back(where + "recipients differ");
            std::vector<const SeenAttachment*> wantAtt;
            for (const SeenAttachment& a : w->attachments)
                if ((p.embedded || a.embeddedSubject.empty()) &&
                    (p.emptyAttachments || a.size > 0 || !a.embeddedSubject.empty()))
                    wantAtt.push_back(&a);
            std::size_t gotCount = 0;
            for (const SeenAttachment& c : got->attachments)
                if (p.embedded || !c.sha256.empty())
                    ++gotCount;
            if (gotCount != wantAtt.size()) {
                out.push_back(where + std::to_string(got->attachments.size()) + " attachments");
                continue;
            }
            for (std::size_t k = 0; k < wantAtt.size(); ++k) {
                const SeenAttachment& a = *wantAtt[k];
                // Readers list attachments in table order except where they sort file names.
                const SeenAttachment* g = nullptr;
                for (const SeenAttachment& c : got->attachments)
                    if (c.sha256 == a.sha256 && c.embeddedSubject == a.embeddedSubject &&
                        (!g || c.name == a.name))
                        g = &c;
                if (!g) {
                    out.push_back(where + "attachment \"" + a.name + "\" missing or different");
                    continue;
                }
                const std::string name = p.attachmentName ? p.attachmentName(k, a.name) : a.name;
                if (p.attachmentNames && a.embeddedSubject.empty() && g->name != name)
                    out.push_back(where + "attachment name \"" + g->name + "\", expected \"" +
                                  name + "\"");
                if (g->size != a.size)
                    out.push_back(where + "attachment \"" + a.name + "\" size " +
                                  std::to_string(g->size));
            }
        }
    }
    for (const auto& [path, items] : seen.folders)
        if (!expected.folders.count(path) && path != "Deleted Items")
            out.push_back("unexpected folder \"" + path + "\"");
    return out;
}

std::string join(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines)
        s += l + "\n";
    return s;
}

// pffexport names attachment files "<n>_<name>" with characters outside a safe set replaced.
std::string pffexportName(std::size_t index, const std::string& name) {
    std::string out = std::to_string(index + 1) + "_";
    for (unsigned char c : name)
        out += (std::isalnum(c) || c >= 0x80 ||
                std::string_view(" ._-()").find(static_cast<char>(c)) != std::string_view::npos)
                   ? static_cast<char>(c)
                   : '_';
    return out;
}

class PstRoundTrip : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pstw-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::vector<CorpusFolder>& corpus,
                      const std::string& name = "out.pst") {
        const std::string path = (dir_ / name).string();
        std::string error;
        auto store = PstStore::create(path, options("Round Trip"), error);
        EXPECT_TRUE(store) << error;
        if (!store)
            return path;
        EXPECT_TRUE(writeCorpus(*store, corpus, error)) << error;
        EXPECT_TRUE(store->close(error)) << error;
        return path;
    }

    // Every reader, with its known gaps, against what was written; and the checker.
    void expectReadersAgree(const std::string& pst, const SeenStore& expected,
                            bool thirdParty = true) {
        EXPECT_EQ(checkerViolations(pst), "");
        auto own = readWithOwnReader(pst);
        ASSERT_TRUE(own.store) << own.error;
        EXPECT_EQ(join(differences(expected, *own.store, {})), "") << "own reader";
        if (!thirdParty)
            return;
        auto pstx = readWithPstExtractor(pst);
        if (!pstx.skipped) {
            ASSERT_TRUE(pstx.store) << pstx.error;
            Profile p;
            p.embedded = false; // its embeddedPSTMessage finds no embedded message (known gap)
            EXPECT_EQ(join(differences(expected, *pstx.store, p)), "") << "pst-extractor";
        }
        auto pff = readWithPffexport(pst, dir_.string());
        if (!pff.skipped) {
            ASSERT_TRUE(pff.store) << pff.error;
            Profile p;
            p.classes = false;
            p.bodies = false; // Message.txt holds bodies of mails only
            p.onlyClasses = {"IPM.Note"};
            p.emptyFolders = true;
            p.embedded = false;
            p.attachmentName = pffexportName;
            // Items pffexport exports without OutlookHeaders (other classes) still count.
            for (auto& [path, items] : pff.store->folders)
                std::erase_if(items, [](const SeenItem& i) { return i.subject.empty(); });
            EXPECT_EQ(join(differences(expected, *pff.store, p)), "") << "pffexport";
        }
        auto rp = readWithReadpst(pst, dir_.string());
        if (!rp.skipped) {
            ASSERT_TRUE(rp.store) << rp.error;
            Profile p;
            p.classes = p.bodies = p.recipients = p.embedded = false;
            p.emptyFolders = false;
            p.onlyClasses = {"IPM.Note"};
            p.attachmentNames = false; // readpst rewrites unsafe characters in file names
            p.emptyAttachments = false;
            SeenStore mailsOnly = *rp.store;
            EXPECT_EQ(join(differences(expected, mailsOnly, p)), "") << "readpst";
        }
    }

    fs::path dir_;
};

TEST_F(PstRoundTrip, RichCorpusReadsBackInEveryReader) {
    const auto corpus = richCorpus();
    const std::string pst = write(corpus);
    expectReadersAgree(pst, expectedView(corpus));
}

// A contents table far past one heap block: its row matrix spans many data blocks and its row
// index B-tree has two levels; half of it is written by a second session that appends to it.
TEST_F(PstRoundTrip, ThousandsOfMessagesInOneFolder) {
    const auto first = manyMessages("Bulk", 2500);
    const std::string pst = write(first);
    std::vector<CorpusFolder> second{first.front()};
    second.front().messages.clear();
    for (int i = 2500; i < 3000; ++i)
        second.front().messages.push_back(
            simpleMail("Message number " + std::to_string(i), "Body " + std::to_string(i)));
    {
        std::string error;
        auto store = PstStore::open(pst, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(writeCorpus(*store, second, error)) << error;
        ASSERT_TRUE(store->close(error)) << error;
    }
    SeenStore expected = expectedView(first);
    SeenStore appended = expectedView(second);
    for (const SeenItem& item : appended.folders["Bulk"])
        expected.folders["Bulk"].push_back(item);
    ASSERT_EQ(expected.folders["Bulk"].size(), 3000u);
    expectReadersAgree(pst, expected);
}

// The store takes the values of the messages it is given instead of copying them; copies of a
// message share its embedded messages, so each copy must still find them whole, whether it is
// queued (small) or written at once (attachments too large to queue).
TEST_F(PstRoundTrip, CopiesSharingAnEmbeddedMessageEachKeepIt) {
    mapi::Message inner = simpleMail("Shared inner", "Embedded in several mails.");
    mapi::Message small = simpleMail("Small outer", "Queued.");
    small.attachments.push_back(mapi::Attachment::embeddedMessage("Shared inner", inner));
    mapi::Message large = small;
    large.attachments.push_back(
        mapi::Attachment::byValue("big.bin", mapi::Binary(std::size_t{5} << 20, 0x5A)));
    CorpusFolder folder{"Shared", "IPF.Note", {}};
    for (int i = 0; i < 4; ++i) {
        mapi::Message copy = i % 2 == 0 ? large : small;
        copy.props.setString(mapi::tags::kSubject, "Outer " + std::to_string(i));
        folder.messages.push_back(std::move(copy));
    }
    const std::vector<CorpusFolder> corpus{folder};
    const std::string pst = write(corpus);
    const SeenStore expected = expectedView(corpus);
    for (const SeenItem& item : expected.folders.at("Shared"))
        ASSERT_EQ(item.attachments.front().embeddedSubject, "Shared inner");
    expectReadersAgree(pst, expected, false);
}

// A hierarchy table that spans blocks.
TEST_F(PstRoundTrip, FolderWithManySubfolders) {
    const auto corpus = manySubfolders("Projects", 600);
    const std::string pst = write(corpus);
    expectReadersAgree(pst, expectedView(corpus));
}

TEST_F(PstRoundTrip, DeepFolderTree) {
    const auto corpus = deepTree(40);
    const std::string pst = write(corpus);
    expectReadersAgree(pst, expectedView(corpus));
}

TEST_F(PstRoundTrip, NamedPropertiesGoThroughTheStoreMap) {
    const auto corpus = richCorpus();
    const std::string pst = write(corpus);
    auto reader = PstReader::open(pst);
    ASSERT_TRUE(reader) << reader.error();
    auto names = reader->namedProperties();
    ASSERT_TRUE(names) << names.error();
    auto idOf = [&](const mapi::Guid& set, std::variant<std::uint32_t, std::string> name) -> int {
        for (const NamedProperty& n : *names) {
            if (mapi::Guid::fromBytes(n.guid.data()) != set)
                continue;
            if (std::holds_alternative<std::string>(name)
                    ? (n.isString && n.name == std::get<std::string>(name))
                    : (!n.isString && n.number == std::get<std::uint32_t>(name)))
                return n.propId;
        }
        return -1;
    };
    const int keywords = idOf(mapi::psets::kPublicStrings, std::string("Keywords"));
    const int location = idOf(mapi::psets::kAppointment, 0x8208u);
    const int percent = idOf(mapi::psets::kTask, 0x8102u);
    ASSERT_GE(keywords, 0x8000);
    ASSERT_GE(location, 0x8000);
    ASSERT_GE(percent, 0x8000);

    // Each value sits under its id with its type.
    auto top = reader->ipmSubtree();
    ASSERT_TRUE(top);
    auto findItem = [&](const std::string& folderName) -> std::optional<PstMessage> {
        auto root = reader->folder(*top);
        for (std::uint32_t sub : root->subfolders) {
            auto f = reader->folder(sub);
            if (f && stringProp(f->props, 0x3001) == folderName && !f->contents.empty())
                if (auto m = reader->message(f->contents.front().rowId))
                    return *m;
        }
        return std::nullopt;
    };
    auto appointment = findItem("Calendar");
    ASSERT_TRUE(appointment);
    EXPECT_EQ(stringProp(appointment->props, static_cast<std::uint16_t>(location)), "Room 4 – Süd");
    auto task = findItem("Tasks");
    ASSERT_TRUE(task);
    ASSERT_TRUE(task->props.count(static_cast<std::uint16_t>(percent)));
    EXPECT_EQ(task->props.at(static_cast<std::uint16_t>(percent)).type, 0x0005);
    auto mail = findItem("Inbox");
    ASSERT_TRUE(mail);
    ASSERT_TRUE(mail->props.count(static_cast<std::uint16_t>(keywords)));
    EXPECT_EQ(mail->props.at(static_cast<std::uint16_t>(keywords)).type, 0x101F);
}

TEST_F(PstRoundTrip, TablesAgreeWithTheObjectsTheyList) {
    const auto corpus = richCorpus();
    const std::string pst = write(corpus);
    auto reader = PstReader::open(pst);
    ASSERT_TRUE(reader) << reader.error();
    auto top = reader->ipmSubtree();
    auto root = reader->folder(*top);
    ASSERT_TRUE(root);
    for (std::uint32_t sub : root->subfolders) {
        auto f = reader->folder(sub);
        ASSERT_TRUE(f);
        EXPECT_EQ(integerProp(f->props, 0x3602), static_cast<std::int64_t>(f->contents.size()));
        for (const TableRow& row : f->contents) {
            auto m = reader->message(row.rowId);
            ASSERT_TRUE(m);
            // The size in the contents row is the message's own stored size.
            EXPECT_EQ(integerProp(row.cells, 0x0E08), integerProp(m->props, 0x0E08));
            EXPECT_GT(integerProp(m->props, 0x0E08).value_or(0), 0);
            EXPECT_EQ(stringProp(row.cells, 0x0037), stringProp(m->props, 0x0037));
            for (const PstAttachment& a : m->attachments) {
                EXPECT_EQ(integerProp(a.tableRow, 0x0E20), integerProp(a.props, 0x0E20));
                EXPECT_TRUE(integerProp(a.tableRow, 0x370B).has_value());
            }
        }
    }
}

TEST_F(PstRoundTrip, AppendingKeepsWhatTheFileHeld) {
    const auto first = richCorpus();
    const std::string pst = write(first);
    auto second = manyMessages("Inbox", 3);
    for (auto& f : deepTree(3))
        second.push_back(f);
    {
        std::string error;
        auto store = PstStore::open(pst, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(writeCorpus(*store, second, error)) << error;
        ASSERT_TRUE(store->close(error)) << error;
    }
    auto all = first;
    all.insert(all.end(), second.begin(), second.end());
    SeenStore expected = expectedView(first);
    for (const auto& [path, items] : expectedView(second).folders)
        expected.folders[path].insert(expected.folders[path].end(), items.begin(), items.end());
    expectReadersAgree(pst, expected);
}

TEST_F(PstRoundTrip, AppendingToAnOutlookFile) {
    const fs::path fixture = fs::path(PARVELLE_THIRD_PARTY_DIR) / "pst" / "pstsdk-sample1.pst";
    if (!fs::exists(fixture))
        GTEST_SKIP() << "third-party fixtures absent";
    const std::string pst = (dir_ / "sample1.pst").string();
    fs::copy_file(fixture, pst);
    fs::permissions(pst, fs::perms::owner_write, fs::perm_options::add);
    auto before = readWithOwnReader(pst);
    ASSERT_TRUE(before.store) << before.error;

    const auto added = manyMessages("Added here", 4);
    std::string error;
    auto store = PstStore::open(pst, error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(writeCorpus(*store, added, error)) << error;
    ASSERT_TRUE(store->close(error)) << error;

    SeenStore expected = *before.store;
    for (const auto& [path, items] : expectedView(added).folders)
        expected.folders[path].insert(expected.folders[path].end(), items.begin(), items.end());
    EXPECT_EQ(checkerViolations(pst), "");
    auto after = readWithOwnReader(pst);
    ASSERT_TRUE(after.store) << after.error;
    EXPECT_EQ(join(differences(expected, *after.store, {})), "");
    auto pstx = readWithPstExtractor(pst);
    if (!pstx.skipped) {
        ASSERT_TRUE(pstx.store) << pstx.error;
        Profile p;
        p.bodies = false;
        EXPECT_EQ(join(differences(expected, *pstx.store, p)), "");
    }
}

} // namespace
} // namespace parvelle::pst::test
