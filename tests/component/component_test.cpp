// The automation object model and the store session: what the item writers' calls put into a
// message, how logons succeed and fail, and how destination folders are found or created.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <unistd.h>

#include "store/component/mail_item.h"
#include "store/component/session.h"
#include "store/component/store_session.h"
#include "store/mapi/tags.h"
#include "store/pst/inspect.h"
#include "temp_dir.h"

namespace parvelle::component {
namespace {

namespace fs = std::filesystem;

// Sets TZ for one test and puts the previous zone back afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> previous_;
};

// 2021-07-01 12:00:00 as an automation date.
constexpr double kJuly1Noon = 44378.5;
constexpr std::int64_t kJuly1NoonUtc = 1625140800;

std::shared_ptr<MailItem> newItem() {
    return std::make_shared<MailItem>("IPM.Note", nullptr, FileWriters{});
}

TEST(MailItemTest, TimesLandAsTheirTrueUtcInstant) {
    ScopedTimeZone zone("Europe/Berlin"); // UTC+2 in July
    auto item = newItem();
    // A tag put of PT_SYSTIME is already UTC.
    item->putIndexed(3, {std::int32_t(0x00390040), Date{kJuly1Noon}});
    const auto* submit = item->message().props.get(mapi::tags::kClientSubmitTime);
    ASSERT_NE(submit, nullptr);
    EXPECT_EQ(submit->asTime()->toUnixSeconds(), kJuly1NoonUtc);
    // A typed date put is the local wall-clock time.
    item->put(0x2F, Date{kJuly1Noon});
    const auto* reminder =
        item->getNamed(mapi::NamedProperty{mapi::psets::kCommon, std::uint32_t{0x8502}});
    ASSERT_NE(reminder, nullptr);
    EXPECT_EQ(reminder->asTime()->toUnixSeconds(), kJuly1NoonUtc - 2 * 3600);
}

TEST(MailItemTest, EightBitTextPutsKeepEveryCharacter) {
    parvelle::testing::TempDir dir;
    const fs::path file = dir.path() / "data.bin";
    std::ofstream(file, std::ios::binary) << "bytes";
    auto item = newItem();
    const ObjectRef attachments = item->get(0x49).toObject();
    const ObjectRef attachment =
        attachments->call(0x65, {file.string(), Missing{}, std::int32_t{1}, "x"}).toObject();
    ASSERT_TRUE(attachment);
    attachment->putIndexed(3, {std::int32_t(0x3707001E), "報告書 2024 — Ärger.xlsx"});
    ASSERT_EQ(item->message().attachments.size(), 1u);
    EXPECT_EQ(item->message().attachments[0].props.string(mapi::tags::kAttachLongFilename),
              "報告書 2024 — Ärger.xlsx");
    // The file may go as soon as it is attached: its bytes are already held.
    fs::remove(file);
    EXPECT_EQ(item->message().attachments[0].content.size, 5u);
}

TEST(MailItemTest, SenderRecipientSetsTheSenderNotARecipientRow) {
    auto item = newItem();
    const ObjectRef recipients = item->get(0x4D).toObject();
    recipients->call(3, {"Ann Example", "ann@example.com", "SMTP", std::int32_t{0}});
    recipients->call(3, {"Bob", "bob@example.com", "", std::int32_t{2}});
    const auto& props = item->message().props;
    EXPECT_EQ(props.string(mapi::tags::kSenderName), "Ann Example");
    EXPECT_EQ(props.string(mapi::tags::kSenderEmail), "ann@example.com");
    ASSERT_EQ(item->message().recipients.size(), 1u);
    EXPECT_EQ(item->message().recipients[0].kind(), 2);
}

// What the test writers of message files were asked to do. Writers are plain functions, so
// they report here.
struct WriterLog {
    int writes = 0;
    int checks = 0;
    bool reservedTarget = false;
    bool failWrite = false;
    bool failCheck = false;
};
WriterLog writerLog;

// Writes a few bytes as the "MSG file", then fails when asked to.
bool testMsgWriter(const mapi::Message&, const platform::FileTarget& target, std::string& error) {
    ++writerLog.writes;
    writerLog.reservedTarget = target.reservedFd >= 0;
    const std::string bytes = "saved message";
    if (target.reservedFd >= 0) {
        if (::write(target.reservedFd, bytes.data(), bytes.size()) < 0)
            return false;
    } else {
        std::ofstream(target.path, std::ios::binary) << bytes;
    }
    if (writerLog.failWrite)
        error = "the disk is full";
    return !writerLog.failWrite;
}

bool testMsgCheck(const mapi::Message&, std::string& error) {
    ++writerLog.checks;
    if (writerLog.failCheck)
        error = "too large for a message file";
    return !writerLog.failCheck;
}

// An item kept in a message file: its save writes a new file in place, replaces an existing
// one, and removes what it wrote when writing fails; an intermediate item's save only checks
// that the file could be written, and leaves no file at all.
TEST(MessageFileItemTest, SaveWritesOrOnlyChecksTheFile) {
    parvelle::testing::TempDir dir;
    FileWriters writers;
    writers.msg = &testMsgWriter;
    writers.msgCheck = &testMsgCheck;
    const ObjectRef session = createObject("KestraneDll.RDOSession", writers);
    struct Case {
        const char* name;
        bool intermediate;
        bool existing;
        bool failWrite;
        bool failCheck;
        bool saved;
        int writes;
        bool reservedTarget;
        const char* contentAfter; // nullptr: no file
    };
    const Case cases[] = {
        {"new file", false, false, false, false, true, 1, true, "saved message"},
        {"new file, write fails", false, false, true, false, false, 1, true, nullptr},
        {"existing file", false, true, false, false, true, 1, false, "saved message"},
        {"intermediate", true, false, false, false, true, 0, false, nullptr},
        {"intermediate, check fails", true, false, false, true, false, 0, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = dir.path() / "item.msg";
        fs::remove(path);
        if (c.existing)
            std::ofstream(path) << "older file";
        writerLog = {};
        writerLog.failWrite = c.failWrite;
        writerLog.failCheck = c.failCheck;
        const ObjectRef item =
            session->call(0x6002001E, {path.string(), "IPM.Note", std::int32_t{2}, c.intermediate})
                .toObject();
        ASSERT_TRUE(item);
        bool saved = true;
        try {
            item->call(6);
        } catch (const ComponentError& e) {
            saved = false;
            EXPECT_NE(std::string(e.what()).find(c.failCheck ? "too large" : "the disk is full"),
                      std::string::npos)
                << e.what();
        }
        EXPECT_EQ(saved, c.saved);
        EXPECT_EQ(writerLog.writes, c.writes);
        EXPECT_EQ(writerLog.checks, c.intermediate ? 1 : 0);
        EXPECT_EQ(writerLog.reservedTarget, c.reservedTarget);
        if (c.contentAfter) {
            std::ifstream in(path);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.contentAfter);
        } else {
            EXPECT_FALSE(fs::exists(path));
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
                  c.contentAfter ? 1 : 0);
    }
}

class StoreSessionTest : public ::testing::Test {
protected:
    parvelle::testing::TempDir dir;
    std::string pstPath() const { return (dir.path() / "store.pst").string(); }
};

TEST_F(StoreSessionTest, PasswordsAreCheckedAndClassified) {
    ObjectRef session = createObject("KestraneDll.RDOSession");
    ASSERT_TRUE(OpenPstStore(session, pstPath(), "secret"));
    EndStoreLogon(session);

    session = createObject("KestraneDll.RDOSession");
    try {
        OpenPstStore(session, pstPath(), "wrong");
        FAIL() << "a wrong password was accepted";
    } catch (const ComponentError& e) {
        EXPECT_NE(std::string(e.what()).find(kWrongPasswordCode), std::string::npos);
    }

    const fs::path notPst = dir.path() / "notes.pst";
    std::ofstream(notPst) << "just some text, not a PST file at all";
    struct Case {
        std::string path;
        std::string password;
        bool browsed;
        PstTestOutcome expected;
    };
    const Case cases[] = {
        {pstPath(), "secret", true, PstTestOutcome::Opened},
        {pstPath(), "wrong", true, PstTestOutcome::WrongPassword},
        {notPst.string(), "", true, PstTestOutcome::InvalidFile},
        {pstPath(), "wrong", false, PstTestOutcome::Unclassified},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " / " + c.password);
        SessionHolder probe;
        bool available = true;
        EXPECT_EQ(TestPstPassword(probe, available, {}, c.path, c.password, c.browsed), c.expected);
        // Released after a successful test; kept, without a logon, after a failed one.
        if (c.expected == PstTestOutcome::Opened) {
            EXPECT_FALSE(probe.session);
        } else {
            ASSERT_TRUE(probe.session);
            EXPECT_FALSE(probe.session->get(2).toBool());
        }
    }
}

TEST_F(StoreSessionTest, OnlineMailboxesAndProfilesAreNotAvailable) {
    ObjectRef session = createObject("KestraneDll.RDOSession");
    EXPECT_THROW(LogOnOffice365(session, "me@example.com", "pw"), ComponentError);
    SessionHolder holder;
    bool available = true;
    EXPECT_TRUE(ListProfileStores(holder, available, {}).empty());
    EXPECT_TRUE(available);
    EXPECT_EQ(createObject("Something.Else"), nullptr);
}

TEST_F(StoreSessionTest, FoldersAreFoundOrCreatedWithTheirClass) {
    ObjectRef session = createObject("KestraneDll.RDOSession");
    ObjectRef root = OpenPstStore(session, pstPath(), "");
    const std::vector<std::string> path = {"Team events", "Work", "jane"}; // innermost first
    const auto classFor = [](const std::string& name, bool innermost) {
        return innermost ? std::string("IPF.Appointment") : containerClassForFolderName(name);
    };
    ASSERT_TRUE(EnsureStoreFolder(root, path, {}, classFor));
    // The second walk finds the same folders instead of adding new ones.
    ASSERT_TRUE(EnsureStoreFolder(root, path, {}, classFor));
    ASSERT_TRUE(EnsureStoreFolder(root, {"Contacts", "jane"}, {}));
    // Stopped before the first step: nothing is walked.
    EXPECT_FALSE(EnsureStoreFolder(root, {"Other"}, [] { return true; }));
    EndStoreLogon(session);

    auto reader = pst::PstReader::open(pstPath());
    ASSERT_TRUE(static_cast<bool>(reader)) << reader.error();
    const auto summary = pst::inspectStore(*reader, false);
    ASSERT_TRUE(static_cast<bool>(summary)) << summary.error();
    std::map<std::string, std::pair<int, std::string>> seen; // path -> (count, class)
    for (const auto& folder : summary->folders) {
        ++seen[folder.path].first;
        seen[folder.path].second = folder.containerClass;
    }
    EXPECT_EQ(seen["/jane"], std::make_pair(1, std::string("IPF.Note")));
    EXPECT_EQ(seen["/jane/Work"], std::make_pair(1, std::string("IPF.Note")));
    EXPECT_EQ(seen["/jane/Work/Team events"], std::make_pair(1, std::string("IPF.Appointment")));
    EXPECT_EQ(seen["/jane/Contacts"], std::make_pair(1, std::string("IPF.Contact")));
    EXPECT_EQ(seen.count("/Other"), 0u);
}

} // namespace
} // namespace parvelle::component
