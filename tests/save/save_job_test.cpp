// The save job end to end: generated archives are scanned and saved into PST files, which our
// reader, our checker and the third-party readers then read back and compare with what the
// archive holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "../mailbox/recording_frontend.h"
#include "../pst_write/oracles.h"
#include "items/file_names.h"
#include "mailbox/progress_job.h"
#include "mailbox/save_job.h"
#include "olmgen/olmgen.h"
#include "platform/datetime.h"
#include "store/pst/checker.h"
#include "store/pst/inspect.h"
#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

namespace fs = std::filesystem;
using testing::RecordingFrontEnd;

struct Scanned {
    std::unique_ptr<JobState> state = std::make_unique<JobState>();
    olmgen::ArchiveFacts facts;
};

Scanned scanGenerated(const olmgen::ArchiveDescription& description, const fs::path& archive,
                      const olmgen::WriteOptions& options = {}) {
    Scanned s;
    const auto written = olmgen::writeArchive(description, archive, options);
    EXPECT_TRUE(written.ok()) << written.error;
    s.facts = written.facts;
    s.state->archivePath = archive.string();
    RecordingFrontEnd ui;
    ProgressJob(*s.state, ui, JobKind::Scan).run();
    return s;
}

// An account with one mail folder holding one mail.
olmgen::Account accountWithOneMail(std::string name, std::string folder, std::string subject) {
    olmgen::Mail mail;
    mail.subject = std::move(subject);
    mail.from = {"Ann", "ann@example.com"};
    mail.sentTime = "2026-01-06T10:00:00";
    olmgen::Account account;
    account.name = std::move(name);
    account.mailFolders.push_back({std::move(folder), {mail}, {}});
    return account;
}

// Runs the save job with the given settings; returns what the front end saw.
std::unique_ptr<RecordingFrontEnd> save(JobState& state, SaveFormat format,
                                        const std::string& destination, int newPst = 1,
                                        int perMailbox = 1) {
    state.saveFormat = format;
    state.destinationPath = destination;
    state.newPst = newPst;
    state.pstPerMailbox = perMailbox;
    auto ui = std::make_unique<RecordingFrontEnd>();
    ProgressJob(state, *ui, JobKind::Save).run();
    return ui;
}

pst::StoreSummary readStore(const std::string& path) {
    auto reader = pst::PstReader::open(path);
    EXPECT_TRUE(static_cast<bool>(reader)) << path << ": " << reader.error();
    if (!static_cast<bool>(reader))
        return {};
    auto summary = pst::inspectStore(*reader, true);
    EXPECT_TRUE(static_cast<bool>(summary)) << summary.error();
    if (!static_cast<bool>(summary))
        return {};
    EXPECT_TRUE(summary->problems.empty()) << summary->problems.front();
    return *summary;
}

// Folder path of a folder key as the save writes it: the names below the account ("Inbox/Sub"),
// or with the account name on top when one PST holds every account.
std::string folderPathOf(const olmgen::ArchiveFacts& facts, const std::string& key,
                         bool withAccount) {
    std::map<std::string, const olmgen::FolderFacts*> byKey;
    for (const auto& f : facts.folders)
        byKey[f.key] = &f;
    std::vector<std::string> names;
    for (auto it = byKey.find(key); it != byKey.end(); it = byKey.find(it->second->parentKey)) {
        if (it->second->isAccount && !withAccount)
            break;
        names.push_back(it->second->name);
        if (it->second->isAccount)
            break;
    }
    std::string path;
    for (auto n = names.rbegin(); n != names.rend(); ++n)
        path += "/" + *n;
    return path;
}

std::string accountOf(const std::string& key) {
    return key.substr(0, key.find('/'));
}

std::string isoOf(const std::string& archiveTime) {
    const auto t = platform::parseDateTime(archiveTime);
    return t ? platform::isoUtcText(*t) : std::string();
}

std::string sha256Of(const olmgen::Payload& payload) {
    const std::string bytes = payload.bytes();
    return pst::test::sha256Hex(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

const pst::ItemSummary* findItem(const pst::StoreSummary& store, const std::string& folder,
                                 const std::string& subject) {
    for (const auto& item : store.items)
        if (item.folder == folder && item.subject == subject)
            return &item;
    return nullptr;
}

// Every mail of the facts whose folder belongs to `account` (or all when empty) is in the store
// with its header fields, times, bodies and attachments.
void expectMailsIn(const pst::StoreSummary& store, const olmgen::ArchiveDescription& description,
                   const olmgen::ArchiveFacts& facts, const std::string& account,
                   bool withAccount) {
    std::map<std::string, const olmgen::Mail*> mailsBySubject;
    for (const auto& a : description.accounts) {
        std::vector<const olmgen::MailFolder*> pending;
        for (const auto& f : a.mailFolders)
            pending.push_back(&f);
        while (!pending.empty()) {
            const auto* f = pending.back();
            pending.pop_back();
            for (const auto& m : f->mails)
                mailsBySubject[m.subject] = &m;
            for (const auto& sub : f->folders)
                pending.push_back(&sub);
        }
    }
    for (const auto& fact : facts.items) {
        if (fact.kind != olmgen::ItemKind::Mail)
            continue;
        if (!account.empty() && accountOf(fact.folderKey) != account)
            continue;
        const std::string folder = folderPathOf(facts, fact.folderKey, withAccount);
        const std::string subject = fact.subject.empty() ? "Unknown" : fact.subject;
        SCOPED_TRACE(folder + " / " + subject);
        const pst::ItemSummary* item = findItem(store, folder, subject);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->messageClass, "IPM.Note");
        if (!fact.sender.address.empty()) {
            EXPECT_EQ(item->senderAddress, fact.sender.address);
        }
        std::map<std::string, std::vector<std::string>> byType;
        for (const auto& r : item->recipients)
            byType[r.type].push_back(r.address.empty() ? r.name : r.address);
        const auto names = [](const std::vector<olmgen::Address>& list) {
            std::vector<std::string> out;
            for (const auto& a : list)
                out.push_back(a.address.empty() ? a.name : a.address);
            return out;
        };
        EXPECT_EQ(byType["to"], names(fact.to));
        EXPECT_EQ(byType["cc"], names(fact.cc));
        EXPECT_EQ(byType["bcc"], names(fact.bcc));
        // A mail with only one of its times gets it as the other one too.
        const std::string sent = fact.date.empty() ? fact.receivedTime : fact.date;
        const std::string received = fact.receivedTime.empty() ? fact.date : fact.receivedTime;
        if (!sent.empty()) {
            EXPECT_EQ(item->sentTime.value_or(""), isoOf(sent));
            EXPECT_EQ(item->deliveryTime.value_or(""), isoOf(received));
        }
        const auto mail = mailsBySubject.find(fact.subject);
        ASSERT_NE(mail, mailsBySubject.end());
        if (!mail->second->htmlBody.empty()) {
            EXPECT_GT(item->htmlChars, 0u);
        } else if (!mail->second->body.empty()) {
            EXPECT_GT(item->bodyChars, 0u);
        }
        ASSERT_EQ(item->attachments.size(), fact.attachments.size());
        for (std::size_t i = 0; i < fact.attachments.size(); ++i) {
            EXPECT_EQ(item->attachments[i].name, fact.attachments[i].displayName);
            EXPECT_EQ(item->attachments[i].sha256.value_or(""),
                      sha256Of(fact.attachments[i].content));
        }
    }
}

// pffexport names its output folders after the PST folders with "@" (and other characters)
// replaced by "_", and garbles characters outside the Basic Multilingual Plane in folder names
// and subjects: its texts are compared after the same mapping.
std::string pffexportText(const std::string& path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c >= 0xF0) {
            out += '?';
            i += 3;
        } else {
            out += c == '@' ? '_' : static_cast<char>(c);
        }
    }
    return out;
}

// pffexport also drops the first two bytes of a subject whose UTF-8 text starts with a non-ASCII
// character (its conversation topic, read from the same file, is whole).
std::string pffexportSubject(const std::string& subject) {
    if (!subject.empty() && static_cast<unsigned char>(subject[0]) >= 0x80)
        return pffexportText(subject.substr(2));
    return pffexportText(subject);
}

class SaveJobTest : public ::testing::Test {
protected:
    parvelle::testing::TempDir dir;
};

TEST_F(SaveJobTest, OnePstPerAccountHoldsEveryFolderAndMail) {
    const auto description = olmgen::sampleDescription();
    Scanned s = scanGenerated(description, dir.path() / "sample.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const auto ui = save(*s.state, SaveFormat::Pst, out.string());

    EXPECT_EQ(ui->posted(Notification::SaveDone).size(), 1u);
    EXPECT_TRUE(ui->posted(Notification::Ended).empty());
    ASSERT_EQ(s.state->savedStores.size(), s.state->accounts.size());
    for (const auto& account : s.state->accounts) {
        SCOPED_TRACE(account.name);
        const std::string path = NewPstPath(out.string(), account.name, true);
        ASSERT_TRUE(fs::exists(path));
        EXPECT_EQ(pst::test::checkerViolations(path), "");
        const pst::StoreSummary store = readStore(path);

        // Every folder of the account, empty ones included, with the class its content needs.
        std::map<std::string, std::string> classes;
        for (const auto& f : store.folders)
            classes[f.path] = f.containerClass;
        for (const auto& folder : s.facts.folders) {
            if (folder.isAccount || accountOf(folder.key) != account.name)
                continue;
            const std::string path = folderPathOf(s.facts, folder.key, false);
            ASSERT_TRUE(classes.count(path)) << path;
            std::set<olmgen::ItemKind> kinds;
            for (const auto& item : s.facts.items)
                if (item.folderKey == folder.key)
                    kinds.insert(item.kind);
            std::string expected = "IPF.Note";
            if (kinds.count(olmgen::ItemKind::Event))
                expected = "IPF.Appointment";
            else if (kinds.count(olmgen::ItemKind::Contact) || kinds.count(olmgen::ItemKind::Group))
                expected = "IPF.Contact";
            else if (kinds.count(olmgen::ItemKind::Task))
                expected = "IPF.Task";
            else if (kinds.count(olmgen::ItemKind::Note))
                expected = "IPF.StickyNote";
            else if (kinds.empty())
                continue; // an empty folder's class follows its name
            EXPECT_EQ(classes[path], expected) << path;
        }
        expectMailsIn(store, description, s.facts, account.name, false);
    }
    // The extracted attachment files are gone.
    EXPECT_TRUE(s.state->tempFolder.empty() || !fs::exists(s.state->tempFolder) ||
                fs::is_empty(fs::path(s.state->tempFolder) / "Attachments"));
}

TEST_F(SaveJobTest, ThirdPartyReadersSeeEveryMailAndAttachment) {
    const auto description = olmgen::sampleDescription();
    Scanned s = scanGenerated(description, dir.path() / "sample.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    save(*s.state, SaveFormat::Pst, out.string(), 1, 0);
    const std::string path = (out / "Outlook.pst").string();
    ASSERT_TRUE(fs::exists(path));

    // What the archive holds, per folder path below the top of the PST.
    std::map<std::string, std::map<std::string, std::vector<std::string>>> expected;
    for (const auto& fact : s.facts.items) {
        if (fact.kind != olmgen::ItemKind::Mail)
            continue;
        auto& hashes = expected[folderPathOf(s.facts, fact.folderKey, true).substr(1)]
                               [fact.subject.empty() ? "Unknown" : fact.subject];
        for (const auto& a : fact.attachments)
            hashes.push_back(sha256Of(a.content));
    }
    const fs::path work = dir.path() / "oracles";
    fs::create_directories(work);
    const std::vector<std::pair<std::string, pst::test::OracleResult>> results = {
        {"own reader", pst::test::readWithOwnReader(path)},
        {"pst-extractor", pst::test::readWithPstExtractor(path)},
        {"pffexport", pst::test::readWithPffexport(path, work.string())},
        {"readpst", pst::test::readWithReadpst(path, work.string())},
    };
    for (const auto& [reader, result] : results) {
        SCOPED_TRACE(reader);
        if (result.skipped)
            continue;
        ASSERT_TRUE(result.store) << result.error;
        std::map<std::string, std::vector<pst::test::SeenItem>> folders;
        for (const auto& [name, items] : result.store->folders)
            folders[reader == "pffexport" ? pffexportText(name) : name] = items;
        for (const auto& [folder, mails] : expected) {
            SCOPED_TRACE(folder);
            const auto seen = folders.find(reader == "pffexport" ? pffexportText(folder) : folder);
            ASSERT_NE(seen, folders.end());
            for (const auto& [subject, hashes] : mails) {
                const auto same = [&](const std::string& a, const std::string& b) {
                    return reader == "pffexport" ? pffexportText(a) == pffexportSubject(b) : a == b;
                };
                const auto item = std::find_if(
                    seen->second.begin(), seen->second.end(),
                    [&](const pst::test::SeenItem& i) { return same(i.subject, subject); });
                ASSERT_NE(item, seen->second.end()) << subject;
                // readpst writes no file for an empty attachment.
                static const std::string kEmpty = sha256Of(olmgen::Payload(""));
                std::multiset<std::string> seenHashes, wantHashes;
                for (const auto& h : hashes)
                    if (reader != "readpst" || h != kEmpty)
                        wantHashes.insert(h);
                for (const auto& a : item->attachments)
                    seenHashes.insert(a.sha256);
                EXPECT_EQ(seenHashes, wantHashes) << subject;
            }
        }
    }
}

// Account names from a damaged archive: control characters, a NUL above all, must neither cut
// a PST file's name short (two accounts in one file, or none created and the save stopped) nor
// reach the file system.
TEST_F(SaveJobTest, AccountNamesWithControlCharactersGetFilesOfTheirOwn) {
    olmgen::ArchiveDescription description;
    for (const std::string& name :
         {std::string("a\0x", 3), std::string("a\ty\x01", 4), std::string("\0z", 2)}) {
        description.accounts.push_back(accountWithOneMail(
            name, "Inbox", "Hello " + std::to_string(description.accounts.size())));
    }
    Scanned s = scanGenerated(description, dir.path() / "names.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const auto ui = save(*s.state, SaveFormat::Pst, out.string());

    EXPECT_EQ(ui->posted(Notification::SaveDone).size(), 1u);
    EXPECT_EQ(s.state->itemsSaved, 3);
    for (const char* file : {"a_x.pst", "a_y_.pst", "_z.pst"}) {
        SCOPED_TRACE(file);
        const std::string path = (out / file).string();
        ASSERT_TRUE(fs::exists(path));
        EXPECT_EQ(pst::test::checkerViolations(path), "");
        EXPECT_EQ(readStore(path).items.size(), 1u);
    }
}

// A mail folder whose name is nothing but spaces is a folder like any other: its mails are saved.
TEST_F(SaveJobTest, FolderNamedOnlySpacesKeepsItsMails) {
    olmgen::ArchiveDescription description;
    description.accounts.push_back(accountWithOneMail("acct", "   ", "In a blank folder"));
    Scanned s = scanGenerated(description, dir.path() / "blank.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const auto ui = save(*s.state, SaveFormat::Pst, out.string());

    EXPECT_EQ(ui->posted(Notification::SaveDone).size(), 1u);
    EXPECT_EQ(s.state->itemsSaved, 1);
    const pst::StoreSummary store = readStore((out / "acct.pst").string());
    ASSERT_EQ(store.items.size(), 1u);
    EXPECT_EQ(store.items[0].subject, "In a blank folder");
}

TEST_F(SaveJobTest, OnePstForAllAccountsPutsEachAccountOnTop) {
    const auto description = olmgen::sampleDescription();
    Scanned s = scanGenerated(description, dir.path() / "sample.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    save(*s.state, SaveFormat::Pst, out.string(), 1, 0);
    ASSERT_EQ(s.state->savedStores, std::vector<std::string>{(out / "Outlook.pst").string()});
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
    const pst::StoreSummary store = readStore((out / "Outlook.pst").string());
    std::set<std::string> paths;
    for (const auto& f : store.folders)
        paths.insert(f.path);
    for (const auto& account : s.state->accounts)
        EXPECT_TRUE(paths.count("/" + account.name)) << account.name;
    expectMailsIn(store, description, s.facts, "", true);
}

TEST_F(SaveJobTest, AppendsCheckedFoldersIntoAnExistingPst) {
    const auto description = olmgen::sampleDescription();
    Scanned s = scanGenerated(description, dir.path() / "sample.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    // A PST holding one account, then every other folder added to it.
    const std::string first = s.state->accounts.front().name;
    for (const auto& account : s.state->accounts)
        s.state->folderTree.setCheckedRecursive(account.treeItem, account.name == first);
    save(*s.state, SaveFormat::Pst, out.string(), 1, 0);
    const std::string path = (out / "Outlook.pst").string();
    const std::size_t before = readStore(path).items.size();
    ASSERT_GT(before, 0u);

    for (const auto& account : s.state->accounts)
        s.state->folderTree.setCheckedRecursive(account.treeItem, account.name != first);
    const auto ui = save(*s.state, SaveFormat::Pst, path, 0, 1);
    EXPECT_EQ(ui->posted(Notification::SaveDone).size(), 1u);
    EXPECT_EQ(pst::test::checkerViolations(path), "");
    const pst::StoreSummary store = readStore(path);
    expectMailsIn(store, description, s.facts, "", true);
}

TEST_F(SaveJobTest, WrongPasswordEndsTheSaveWithTheLoginMessage) {
    Scanned s = scanGenerated(olmgen::sampleDescription(), dir.path() / "sample.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    s.state->pstPassword = "secret";
    save(*s.state, SaveFormat::Pst, out.string(), 1, 0);
    const std::string path = (out / "Outlook.pst").string();
    const std::size_t logRows = s.state->log.size();

    s.state->pstPassword = "wrong";
    struct MessageFrontEnd : RecordingFrontEnd {
        std::vector<std::string> messages;
        int showMessage(const std::string& text, MessageIcon icon) override {
            EXPECT_EQ(icon, MessageIcon::Error);
            messages.push_back(text);
            return 1;
        }
    } ui;
    s.state->saveFormat = SaveFormat::Pst;
    s.state->destinationPath = path;
    s.state->newPst = 0;
    ProgressJob(*s.state, ui, JobKind::Save).run();
    EXPECT_EQ(ui.messages, std::vector<std::string>{kPstLoginFailedMessage});
    EXPECT_TRUE(ui.events.empty()); // neither SaveDone nor Ended
    EXPECT_EQ(s.state->saveEnabled.load(), 1);
    // Only the start row was added: no folder rows, no completion time.
    ASSERT_EQ(s.state->log.size(), logRows + 1);
    EXPECT_EQ(s.state->log.rows().back().itemType, "Saving Start Time:");
    EXPECT_EQ(pst::test::checkerViolations(path), "");
}

TEST_F(SaveJobTest, UncheckedFoldersWriteNothingAndEmptyCheckedFoldersExist) {
    olmgen::ArchiveDescription d;
    olmgen::Account acct;
    acct.name = "acct";
    olmgen::Mail kept;
    kept.subject = "kept";
    kept.sentTime = "2020-01-01T10:00:00";
    olmgen::Mail dropped;
    dropped.subject = "dropped";
    acct.mailFolders = {{"Inbox", {kept}, {{"Empty", {}, {}}}}, {"Skip", {dropped}, {}}};
    d.accounts.push_back(acct);
    Scanned s = scanGenerated(d, dir.path() / "a.olm");
    TreeItem skip = 0;
    for (const auto& node : s.state->folderNodes)
        if (node.name == "Skip")
            skip = node.treeItem;
    ASSERT_NE(skip, 0u);
    s.state->folderTree.setCheckedRecursive(skip, false);
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const std::size_t scanRows = s.state->log.size();
    save(*s.state, SaveFormat::Pst, out.string());

    const pst::StoreSummary store = readStore((out / "acct.pst").string());
    std::set<std::string> paths;
    for (const auto& f : store.folders)
        paths.insert(f.path);
    EXPECT_TRUE(paths.count("/Inbox/Empty"));
    EXPECT_FALSE(paths.count("/Skip"));
    ASSERT_EQ(store.items.size(), 1u);
    EXPECT_EQ(store.items[0].subject, "kept");
    const auto rows = s.state->log.rows();
    for (std::size_t i = scanRows; i < rows.size(); ++i)
        EXPECT_NE(rows[i].description, "Skip");
}

// Mails that test what the writer must not lose.
TEST_F(SaveJobTest, MailsKeepSenderBodyAndEveryAttachment) {
    olmgen::ArchiveDescription d;
    olmgen::Account acct;
    acct.name = "acct";
    olmgen::Mail timeless;
    timeless.subject = "no times";
    timeless.from = {"Ann", "ann@example.com"};
    timeless.body = "plain";
    olmgen::Mail flaggedHtml;
    flaggedHtml.subject = "html flag, no html";
    flaggedHtml.sentTime = "2020-01-01T10:00:00";
    flaggedHtml.body = "the plain body";
    flaggedHtml.overrides.extraElements = {{"OPFMessageCopyHTMLBody", ""}};
    flaggedHtml.overrides.omittedElements = {"OPFMessageGetHasHTML"};
    flaggedHtml.overrides.extraElements.push_back({"OPFMessageGetHasHTML", "1E0"});
    olmgen::Mail attachments;
    attachments.subject = "attachments";
    attachments.sentTime = "2020-01-01T10:00:00";
    olmgen::Attachment a1;
    a1.name = "same.txt";
    a1.extension = "txt";
    a1.content = "first file";
    olmgen::Attachment a2 = a1;
    a2.content = "second file";
    olmgen::Attachment shortKey;
    shortKey.name = "tiny.bin";
    shortKey.extension = "bin";
    shortKey.content = "short member name";
    shortKey.fileName = "t_0001";
    attachments.attachments = {a1, a2, shortKey};
    acct.mailFolders = {{"Inbox", {timeless, flaggedHtml, attachments}, {}}};
    d.accounts.push_back(acct);
    Scanned s = scanGenerated(d, dir.path() / "a.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    save(*s.state, SaveFormat::Pst, out.string());
    const pst::StoreSummary store = readStore((out / "acct.pst").string());

    const auto* noTimes = findItem(store, "/Inbox", "no times");
    ASSERT_NE(noTimes, nullptr);
    EXPECT_EQ(noTimes->senderAddress, "ann@example.com");

    const auto* html = findItem(store, "/Inbox", "html flag, no html");
    ASSERT_NE(html, nullptr);
    EXPECT_EQ(html->bodyChars, std::string("the plain body").size());

    const auto* withFiles = findItem(store, "/Inbox", "attachments");
    ASSERT_NE(withFiles, nullptr);
    ASSERT_EQ(withFiles->attachments.size(), 3u);
    EXPECT_EQ(withFiles->attachments[0].name, "same.txt");
    EXPECT_EQ(withFiles->attachments[1].name, "same.txt");
    EXPECT_EQ(withFiles->attachments[0].sha256.value_or(""), sha256Of(a1.content));
    EXPECT_EQ(withFiles->attachments[1].sha256.value_or(""), sha256Of(a2.content));
    EXPECT_EQ(withFiles->attachments[2].sha256.value_or(""), sha256Of(shortKey.content));
}

TEST_F(SaveJobTest, DamagedArchivesConvertWhatTheyHold) {
    const auto description = olmgen::sampleDescription();
    for (const olmgen::Damage damage : olmgen::allDamageModes()) {
        SCOPED_TRACE(std::string(olmgen::damageName(damage)));
        const fs::path archive = dir.path() / (std::string(olmgen::damageName(damage)) + ".olm");
        Scanned s = scanGenerated(description, archive, {olmgen::Compression::Stored, damage});
        const fs::path out = dir.path() / ("out-" + std::string(olmgen::damageName(damage)));
        fs::create_directories(out);
        const auto ui = save(*s.state, SaveFormat::Pst, out.string(), 1, 0);
        EXPECT_EQ(ui->posted(Notification::SaveDone).size(), 1u);
        const std::string path = (out / "Outlook.pst").string();
        EXPECT_EQ(pst::test::checkerViolations(path), "");
        // Every mail that the scan found (the damaged member aside) is in the file.
        std::size_t listedMails = 0;
        for (const auto& details : s.state->folderItems)
            for (const auto& item : details->items)
                if (item.kind == "email")
                    ++listedMails;
        std::size_t storedMails = 0;
        for (const auto& item : readStore(path).items)
            if (item.messageClass == "IPM.Note")
                ++storedMails;
        EXPECT_EQ(storedMails, listedMails);
    }
}

TEST_F(SaveJobTest, StopKeepsWhatWasWrittenInAValidFile) {
    Scanned s = scanGenerated(olmgen::sampleDescription(), dir.path() / "sample.olm");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    s.state->saveFormat = SaveFormat::Pst;
    s.state->destinationPath = out.string();
    s.state->pstPerMailbox = 0;
    RecordingFrontEnd ui;
    int progress = 0;
    ui.onProgress = [&] {
        if (++progress == 12)
            s.state->stopRequested = 1;
    };
    ProgressJob(*s.state, ui, JobKind::Save).run();
    const auto ended = ui.posted(Notification::Ended);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].wParam, 0);
    EXPECT_TRUE(ui.posted(Notification::SaveDone).empty());
    EXPECT_EQ(s.state->stopRequested.load(), 0);
    const std::string path = (out / "Outlook.pst").string();
    EXPECT_EQ(pst::test::checkerViolations(path), "");
    const std::size_t stored = readStore(path).items.size();
    EXPECT_GT(stored, 0u);
    EXPECT_EQ(static_cast<std::int64_t>(stored), s.state->itemsSaved.load());
}

} // namespace
} // namespace parvelle::mailbox
