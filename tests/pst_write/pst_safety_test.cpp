// What the writer does when things go wrong: writers that die part-way, files in use, files it
// must not write into, attachments it cannot store.
#include "corpus.h"
#include "oracles.h"
#include "store/mapi/tags.h"
#include "store/pst/checker.h"
#include "store/pst/reader_ndb.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace parvelle::pst::test {
namespace {

namespace fs = std::filesystem;

class PstSafety : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pstw-safety-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "store.pst").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::size_t messagesIn(const std::string& pst, const std::string& folder) {
        auto seen = readWithOwnReader(pst);
        EXPECT_TRUE(seen.store) << seen.error;
        if (!seen.store || !seen.store->folders.count(folder))
            return 0;
        return seen.store->folders.at(folder).size();
    }

    // What a killed writer may leave besides the last commit: the maps flagged for rebuilding
    // (killed between a commit's two header writes) and bytes appended after that commit past
    // the end its header gives. Anything else the checker finds is damage.
    void expectNoDamageBeyondAKill(const std::string& pst) {
        auto db = NodeDatabase::open(pst);
        ASSERT_TRUE(db) << db.error();
        const bool appendedPastEnd = fs::file_size(pst) > db->header().ibFileEof;
        for (const Violation& v : checkStore(*db).violations) {
            const bool mapsFlagged = v.kind == ViolationKind::AllocationMap && v.where == "header";
            const bool sizeOnly = appendedPastEnd && v.kind == ViolationKind::Header &&
                                  v.message.starts_with("the header gives the file size");
            if (!mapsFlagged && !sizeOnly)
                ADD_FAILURE() << v.where << ": " << v.message;
        }
    }

    // Runs `work` in a child process that ends abruptly (no destructors, no close) when it
    // returns, as a killed writer would.
    void inDyingChild(const std::function<void()>& work) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            work();
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(PstSafety, NewFileCarriesItsNameOnlyOnceClosed) {
    // A writer killed inside create() leaves a few bytes under the temporary name; the next
    // create() starts over in their place.
    std::ofstream(path_ + ".partial") << "!BD";
    std::string error;
    auto store = PstStore::create(path_, {}, error);
    ASSERT_TRUE(store) << error;
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_TRUE(fs::exists(path_ + ".partial"));
    ASSERT_TRUE(store->close(error)) << error;
    EXPECT_TRUE(fs::exists(path_));
    EXPECT_FALSE(fs::exists(path_ + ".partial"));
    EXPECT_EQ(checkerViolations(path_), "");
}

TEST_F(PstSafety, KilledWriterLeavesEveryCommittedMessage) {
    inDyingChild([&] {
        std::string error;
        auto store = PstStore::create(path_, options("", 1000), error);
        if (!store)
            return;
        auto folder = store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error);
        for (int i = 0; folder && i < 25; ++i) {
            if (i == 20 && !store->commit(error))
                return;
            store->addMessage(*folder, simpleMail("Mail " + std::to_string(i), "x"), error);
        }
        // Dies like a killed process, without closing or any destructor: 20 messages were
        // committed, 5 were not.
        ::_exit(0);
    });
    const std::string partial = path_ + ".partial";
    ASSERT_FALSE(fs::exists(path_)) << "an unfinished file must not carry the final name";
    ASSERT_TRUE(fs::exists(partial));
    EXPECT_EQ(checkerViolations(partial), "");
    EXPECT_EQ(messagesIn(partial, "Inbox"), 20u);
    auto pstx = readWithPstExtractor(partial);
    if (!pstx.skipped) {
        ASSERT_TRUE(pstx.store) << pstx.error;
        EXPECT_EQ(pstx.store->folders["Inbox"].size(), 20u);
    }
}

TEST_F(PstSafety, KilledWriterDuringAutomaticCommitsLeavesAWholeCommit) {
    // Automatic commits do not wait for the disk, so a process killed right after one may or
    // may not have finished it; either way the file holds exactly what some commit held.
    inDyingChild([&] {
        std::string error;
        auto store = PstStore::create(path_, options("", 10), error);
        if (!store)
            return;
        auto folder = store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error);
        for (int i = 0; folder && i < 25; ++i)
            store->addMessage(*folder, simpleMail("Mail " + std::to_string(i), "x"), error);
        ::_exit(0);
    });
    const std::string partial = path_ + ".partial";
    expectNoDamageBeyondAKill(partial);
    const std::size_t kept = messagesIn(partial, "Inbox");
    EXPECT_TRUE(kept == 0 || kept == 10 || kept == 20) << kept << " messages";
}

TEST_F(PstSafety, KilledAtAnyMomentLeavesOnlyWholeMessages) {
    // Killed at arbitrary moments while messages are built, appended and committed on their
    // threads, the file opens without damage, and every message in it is whole, its attachment
    // complete to the last byte.
    mapi::Binary attachment(30000);
    for (std::size_t i = 0; i < attachment.size(); ++i)
        attachment[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const std::string wholeAttachment = sha256Hex(attachment);
    std::mt19937 random(11);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string path = (dir_ / ("killed" + std::to_string(round) + ".pst")).string();
        // The clock starts once the store exists: a kill inside create() leaves a leftover that
        // holds nothing and that the next create() removes, and on a loaded machine create()
        // alone can take longer than the shortest wait.
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(ready[0]);
            std::string error;
            auto store = PstStore::create(path, options("", 5), error);
            auto inbox = store ? store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error)
                               : std::nullopt;
            const char created = inbox ? 'y' : 'n';
            if (::write(ready[1], &created, 1) != 1)
                ::_exit(2);
            for (int i = 0; inbox && i < 20000; ++i) {
                mapi::Message m = simpleMail("Mail " + std::to_string(i), "x");
                m.attachments.push_back(mapi::Attachment::byValue("data.bin", attachment));
                store->addMessage(*inbox, std::move(m), error);
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        char created = 0;
        const bool reported = ::read(ready[0], &created, 1) == 1;
        ::close(ready[0]);
        if (reported && created == 'y')
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 550)(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(reported && created == 'y') << "the store could not be created";
        const std::string partial = path + ".partial";
        ASSERT_TRUE(fs::exists(partial));
        expectNoDamageBeyondAKill(partial);
        auto seen = readWithOwnReader(partial);
        ASSERT_TRUE(seen.store) << seen.error;
        for (const auto& item : seen.store->folders["Inbox"]) {
            ASSERT_EQ(item.attachments.size(), 1u) << item.subject;
            EXPECT_EQ(item.attachments[0].sha256, wholeAttachment) << item.subject;
        }
        fs::remove(partial);
    }
}

TEST_F(PstSafety, KilledAppendLeavesThePreviousContent) {
    {
        std::string error;
        auto store = PstStore::create(path_, {}, error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(writeCorpus(*store, manyMessages("Inbox", 5), error)) << error;
        ASSERT_TRUE(store->close(error)) << error;
    }
    inDyingChild([&] {
        std::string error;
        auto store = PstStore::open(path_, error);
        if (!store)
            return;
        store->setCommitInterval(1000);
        auto inbox = store->findSubfolder(store->rootFolder(), "Inbox");
        for (int i = 0; inbox && i < 7; ++i)
            store->addMessage(*inbox, simpleMail("Uncommitted " + std::to_string(i), "x"), error);
        store->addFolder(store->rootFolder(), "Never committed", "IPF.Note", error);
        ::_exit(0); // killed: nothing closed, nothing flushed
    });
    EXPECT_EQ(checkerViolations(path_), "");
    EXPECT_EQ(messagesIn(path_, "Inbox"), 5u);
    auto seen = readWithOwnReader(path_);
    ASSERT_TRUE(seen.store);
    EXPECT_FALSE(seen.store->folders.count("Never committed"));

    // And the file takes new messages afterwards.
    std::string error;
    auto store = PstStore::open(path_, error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(writeCorpus(*store, manyMessages("Inbox", 2), error)) << error;
    ASSERT_TRUE(store->close(error)) << error;
    EXPECT_EQ(messagesIn(path_, "Inbox"), 7u);
    EXPECT_EQ(checkerViolations(path_), "");
}

TEST_F(PstSafety, FileBeingWrittenIsRefused) {
    std::string error;
    auto first = PstStore::create(path_, {}, error);
    ASSERT_TRUE(first) << error;
    ASSERT_TRUE(first->close(error)) << error;
    auto writer = PstStore::open(path_, error);
    ASSERT_TRUE(writer) << error;
    auto second = PstStore::open(path_, error);
    EXPECT_FALSE(second);
    EXPECT_NE(error.find("another process"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(PstStore::create(path_, {}, error));
    EXPECT_NE(error.find("another process"), std::string::npos) << error;
}

TEST_F(PstSafety, FilesThatCannotBeAppendedToAreRefusedInPlainWords) {
    struct Case {
        std::string name;
        std::string content; // empty: copy the ANSI fixture
        std::string expected;
    };
    const std::vector<Case> cases{
        {"text.pst",
         "this is not a PST file at all, just some text that is long enough " +
             std::string(600, '.'),
         "not a PST"},
        {"short.pst", "!BDN", "not a PST"},
        {"ansi.pst", "", "ANSI"},
    };
    for (const Case& c : cases) {
        const std::string p = (dir_ / c.name).string();
        if (c.content.empty()) {
            const fs::path ansi =
                fs::path(PARVELLE_THIRD_PARTY_DIR) / "pst" / "pstsdk-test_ansi.pst";
            if (!fs::exists(ansi))
                continue;
            fs::copy_file(ansi, p);
            fs::permissions(p, fs::perms::owner_write, fs::perm_options::add);
        } else {
            std::ofstream(p, std::ios::binary) << c.content;
        }
        const auto before = fs::file_size(p);
        std::string error;
        EXPECT_FALSE(PstStore::open(p, error)) << c.name;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(fs::file_size(p), before) << c.name << " was changed";
    }
}

TEST_F(PstSafety, AttachmentOfFourGigabytesIsAnErrorNotATruncation) {
    std::string error;
    auto store = PstStore::create(path_, {}, error);
    ASSERT_TRUE(store) << error;
    auto inbox = store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error);
    ASSERT_TRUE(inbox);
    mapi::Message m = simpleMail("Too big", "x");
    mapi::AttachmentContent huge;
    huge.size = 4ull << 30;
    bool read = false;
    huge.read = [&](std::uint64_t, std::span<std::uint8_t>) { return read = true; };
    m.attachments.push_back(mapi::Attachment::byValue("disk.img", huge));
    EXPECT_FALSE(store->addMessage(*inbox, m, error));
    EXPECT_NE(error.find("4 GB"), std::string::npos) << error;
    EXPECT_FALSE(read) << "nothing of it may be written";
    ASSERT_TRUE(store->addMessage(*inbox, simpleMail("Fine", "y"), error)) << error;
    ASSERT_TRUE(store->close(error)) << error;
    EXPECT_EQ(messagesIn(path_, "Inbox"), 1u);
    EXPECT_EQ(checkerViolations(path_), "");
}

// An attachment whose source fails part-way (a file that vanished, a damaged archive member)
// fails that one message; what was already written of it is dropped, not left in the file.
TEST_F(PstSafety, AttachmentThatCannotBeReadLeavesNothingBehind) {
    // A small message is read whole before it is queued; one with attachments too large to hold
    // is written at once, its attachments read block by block into the file.
    for (const std::uint64_t size : {std::uint64_t{50000}, std::uint64_t{20u << 20}}) {
        SCOPED_TRACE(size);
        std::filesystem::remove(path_);
        std::string error;
        auto store = PstStore::create(path_, {}, error);
        ASSERT_TRUE(store) << error;
        auto inbox = store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error);
        ASSERT_TRUE(inbox);
        mapi::Message m = simpleMail("Unreadable", "x");
        m.attachments.push_back(mapi::Attachment::byValue("fine.bin", mapi::Binary(20000, 7)));
        mapi::AttachmentContent failing;
        failing.size = size;
        const std::uint64_t readable = size - 10000; // the last bytes cannot be read
        failing.read = [readable](std::uint64_t offset, std::span<std::uint8_t> out) {
            std::fill(out.begin(), out.end(), std::uint8_t{1});
            return offset + out.size() <= readable;
        };
        m.attachments.push_back(mapi::Attachment::byValue("broken.bin", failing));
        EXPECT_FALSE(store->addMessage(*inbox, m, error));
        EXPECT_NE(error.find("broken.bin"), std::string::npos) << error;
        ASSERT_TRUE(store->addMessage(*inbox, simpleMail("Fine", "y"), error)) << error;
        ASSERT_TRUE(store->close(error)) << error;
        EXPECT_EQ(messagesIn(path_, "Inbox"), 1u);
        EXPECT_EQ(checkerViolations(path_), "");
    }
}

TEST_F(PstSafety, AttachmentReadLaterThatFailsIsReportedAndLeavesTheFileWhole) {
    // Contents readable later (archive members) are read by the writing thread as it writes.
    // When that read fails, the caller hears of it at its next call, the message leaves no
    // blocks behind and what was written before stays.
    std::string error;
    auto store = PstStore::create(path_, {}, error);
    ASSERT_TRUE(store) << error;
    auto inbox = store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error);
    ASSERT_TRUE(inbox);
    ASSERT_TRUE(store->addMessage(*inbox, simpleMail("Before", "y"), error)) << error;
    mapi::Message m = simpleMail("Unreadable later", "x");
    mapi::AttachmentContent failing;
    failing.size = 3u << 20;
    failing.readableLater = true;
    failing.read = [](std::uint64_t offset, std::span<std::uint8_t> out) {
        std::fill(out.begin(), out.end(), std::uint8_t{1});
        return offset + out.size() <= (2u << 20);
    };
    m.attachments.push_back(mapi::Attachment::byValue("late.bin", failing));
    error.clear();
    store->addMessage(*inbox, m, error); // queued or refused at once: either way reported
    std::string reported = error;
    if (reported.empty()) {
        EXPECT_FALSE(store->commit(reported));
    }
    EXPECT_NE(reported.find("late.bin"), std::string::npos) << reported;
    EXPECT_FALSE(store->close(error));
    store.reset();
    const std::string partial = path_ + ".partial";
    EXPECT_EQ(checkerViolations(partial), "");
    EXPECT_EQ(messagesIn(partial, "Inbox"), 1u);
}

TEST_F(PstSafety, WriteFailureOnTheWritingThreadReachesTheCaller) {
    // Messages are written by the store's own thread; a file that stops growing (here: the
    // process's file size limit) must fail the calls that follow, never pass for success.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4u << 20, 4u << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        auto store = PstStore::create(path_, options("", 5), error);
        auto inbox = store ? store->addFolder(store->rootFolder(), "Inbox", "IPF.Note", error)
                           : std::nullopt;
        if (!inbox)
            ::_exit(10);
        int accepted = 0;
        for (; accepted < 400; ++accepted) {
            mapi::Message m = simpleMail("Mail " + std::to_string(accepted), "x");
            m.attachments.push_back(mapi::Attachment::byValue("data.bin", mapi::Binary(100000, 3)));
            if (!store->addMessage(*inbox, m, error))
                break;
        }
        if (accepted == 400)
            ::_exit(11); // 40 MB went into a file limited to 4 MB without a word
        if (error.find("could not be written") == std::string::npos)
            ::_exit(12);
        std::string closeError;
        ::_exit(store->close(closeError) ? 13 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10: no store, 11: every message accepted, 12: wrong error, 13: close succeeded";
}

TEST_F(PstSafety, PasswordIsStoredAsOutlookStoresIt) {
    EXPECT_EQ(PstStore::passwordCrcOf("test"), 0xF93BA110u); // the value in Outlook's own file
    std::string error;
    auto store = PstStore::create(path_, options("", 1000, "test"), error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->close(error)) << error;
    auto reopened = PstStore::open(path_, error);
    ASSERT_TRUE(reopened) << error;
    EXPECT_EQ(reopened->passwordCrc(), 0xF93BA110u);
}

} // namespace
} // namespace parvelle::pst::test
