// Mails written as message files through WriteMailToFile, the way the save job calls it: a
// store session made with the message-file writers, a holder filled as the mail reader fills
// it, and the extracted attachment files. The files are read back with third-party readers
// (olefile, msgconvert, msgreader for MSG; Python's e-mail and HTML parsers for EML and HTML;
// unrtf and an RTF reader of the test's own for RTF; pdftotext for PDF).
#include "items/file_export.h"

#include <gtest/gtest.h>

#include "items/item_readers.h"
#include "items/message_writer.h"
#include "json_value.h"
#include "olmgen/documents.h"
#include "platform/datetime.h"
#include "platform/text.h"
#include "store/component/session.h"
#include "store/mapi/tags.h"
#include "store/msg/msg_reader.h"
#include "temp_dir.h"
#include "test_support.h"

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// fontconfig keeps its parsed configuration for the life of the process, and cairo's CFF font
// subsetter leaks a small buffer per document that embeds a CFF font (CJK); neither is ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libcairo.so\n";
}

namespace parvelle::items {
namespace {

namespace fs = std::filesystem;
namespace tags = mapi::tags;
using mailbox::SaveFormat;
using parvelle::testing::runCommand;
using parvelle::testing::shellQuote;
using parvelle::testing::TempDir;

struct TestAttachment {
    std::string name;
    std::string bytes;
};

struct TestMail {
    std::string subject = "Quarterly report";
    RecipientNode sender{kSender, "Zoë Ünal", "zoe@example.com", ""};
    std::vector<RecipientNode> to{{kTo, "山田 太郎", "taro@example.jp", ""}};
    std::vector<RecipientNode> cc;
    std::string body = "Plain body, line one.\r\nLine two — ünïcödé 日本語.\r\n";
    std::string html;
    std::vector<TestAttachment> attachments;
    std::string sentTime = "2026-01-06T10:00:00";
};

const SaveFormat kFileFormats[] = {SaveFormat::Msg, SaveFormat::Eml, SaveFormat::Rtf,
                                   SaveFormat::Html, SaveFormat::Pdf};

std::string formatName(SaveFormat format) {
    return ExportExtension(format).substr(1);
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Every regular file below `dir`, as paths relative to it.
std::set<std::string> filesBelow(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (!entry.is_directory())
            out.insert(fs::relative(entry.path(), dir).string());
    return out;
}

std::string sha256(const std::string& bytes) {
    return parvelle::testing::sha256Hex(
        std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

class FileExportTest : public ::testing::Test {
protected:
    FileExportTest()
        : conv_(state_, ui_,
                [this](const mailbox::ItemSource& source) -> std::optional<std::string> {
                    const auto it = archive_.find(source.offset);
                    if (it == archive_.end())
                        return std::nullopt;
                    return it->second;
                }) {
        out_ = dir_ / "out";
        fs::create_directories(out_);
        fs::create_directories(dir_ / "tmp");
        state_.tempFolder = (dir_ / "tmp").string();
        state_.fileExportFolder = out_.string();
        conv_.jobSession = component::createObject("KestraneDll.RDOSession", MessageFileWriters());
    }

    // Fills the holder and the job state the way the mail reader does, then writes the mail.
    void write(const TestMail& mail, SaveFormat format) {
        ItemHolder holder;
        holder.record = std::make_unique<ItemRecord>();
        holder.kind = 1;
        ItemRecord& record = *holder.record;
        record.subject = mail.subject;
        record.from = mail.sender.address;
        holder.recipients.push_back(mail.sender);
        for (const RecipientNode& r : mail.to) {
            holder.recipients.push_back(r);
            record.to += (record.to.empty() ? "" : ",") + r.address;
        }
        for (const RecipientNode& r : mail.cc) {
            holder.recipients.push_back(r);
            record.cc += (record.cc.empty() ? "" : ",") + r.address;
        }
        const auto sent = platform::parseDateTime(mail.sentTime);
        record.sentTime = {sent ? platform::oleDateFromUnix(*sent) : 0, kDateValid};
        record.hasHtml = mail.html.empty() ? "0E0" : "1E0";
        conv_.bodyText = mail.body;
        conv_.htmlBody = mail.html;
        state_.currentSubject = mail.subject;
        state_.saveFormat = format;
        state_.extractedAttachments.clear();
        int n = 0;
        for (const TestAttachment& a : mail.attachments) {
            const fs::path file = dir_ / "tmp" / ("attachment" + std::to_string(n++));
            std::ofstream(file, std::ios::binary) << a.bytes;
            state_.extractedAttachments.push_back({a.name, file.string()});
        }
        WriteMailToFile(nullptr, holder, conv_);
    }

    // Runs the mail reader on the mail's document as the save job hands it over, its attachments
    // in the archive, and exports it as EML.
    void exportMailDocument(const olmgen::Mail& mail) {
        std::vector<std::string> urls;
        for (std::size_t i = 0; i < mail.attachments.size(); ++i) {
            urls.push_back("Accounts/acct/com.microsoft.__Messages/Inbox/"
                           "com.microsoft.__Attachments/m1_000" +
                           std::to_string(i));
            mailbox::AttachmentDetails member;
            member.offset = static_cast<std::int64_t>(i);
            state_.memberPaths[urls.back()] = member;
            archive_[member.offset] = mail.attachments[i].content.bytes();
        }
        MarkupDocument doc;
        ASSERT_TRUE(doc.SetText(olmgen::mailDocument(mail, "m1", urls)));
        ASSERT_TRUE(doc.FindSibling("emails"));
        state_.saveFormat = SaveFormat::Eml;
        ItemHolder holder;
        ReadEmails(doc, nullptr, holder, conv_);
    }

    TempDir dir_;
    fs::path out_;
    // Archive members the attachments are read from, by their offset.
    std::map<std::int64_t, std::string> archive_;
    mailbox::JobState state_;
    mailbox::JobFrontEnd ui_;
    ItemConversion conv_;
};

// ------------------------------------------------------------------------------------------
// Names

TEST_F(FileExportTest, SubjectsBecomeFileNamesInsideTheExportFolder) {
    struct Case {
        std::string subject;
        std::string name;
    };
    const Case cases[] = {
        {"Re: Q3/Q4 plan?", "Re_ Q3_Q4 plan_.msg"},
        {"", "unknown.msg"},
        {"a\\b*c\"d<e>f|g\th\r\ni", "a_b_c_d_e_f_g_h__i.msg"},
        {"../../escape", ".._.._escape.msg"},
        {"..", "...msg"},
        {std::string("nul\0byte", 8), "nul_byte.msg"},
        {"Grüße 日本語 🎉", "Grüße 日本語 🎉.msg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.subject);
        state_.currentSubject = c.subject;
        EXPECT_EQ(MakeMessageFilePath(state_), (out_ / c.name).string());
    }
}

TEST_F(FileExportTest, LongUnicodeSubjectIsCutToTheNameLimitAtACharacterBoundary) {
    std::string subject;
    for (int i = 0; i < 200; ++i)
        subject += i % 2 ? "日" : "é"; // 2 and 3 bytes: every cut position is tried
    for (std::size_t extra = 0; extra < 3; ++extra) {
        state_.currentSubject = std::string(extra, 'a') + subject;
        const fs::path path = MakeMessageFilePath(state_);
        const std::string name = path.filename().string();
        EXPECT_LE(name.size(), ExportNameLimit(out_.string()) + 4);
        EXPECT_TRUE(text::isValidUtf8(name)) << name;
        EXPECT_TRUE(state_.currentSubject.starts_with(name.substr(0, name.size() - 4)));
        EXPECT_GT(name.size(), ExportNameLimit(out_.string()) - 4);
    }
    long nameMax = ::pathconf(out_.c_str(), _PC_NAME_MAX);
    EXPECT_LE(ExportNameLimit(out_.string()) + 32, static_cast<std::size_t>(nameMax));
}

// Two mails with one long Unicode subject, in every format: both are written, under names the
// file system accepts, and nothing else stays in the folder.
TEST_F(FileExportTest, LongUnicodeSubjectsExportInEveryFormatWithoutOverwriting) {
    TestMail mail;
    mail.subject.clear();
    for (int i = 0; i < 120; ++i)
        mail.subject += "報告";
    for (SaveFormat format : kFileFormats) {
        SCOPED_TRACE(formatName(format));
        fs::remove_all(out_);
        fs::create_directories(out_);
        write(mail, format);
        write(mail, format);
        const auto files = filesBelow(out_);
        ASSERT_EQ(files.size(), 2u);
        for (const std::string& name : files) {
            EXPECT_TRUE(name.ends_with(ExportExtension(format))) << name;
            EXPECT_GT(fs::file_size(out_ / name), 0u) << name;
        }
    }
}

// The path limit of the system: a name that would make the path reach it is cut to 5
// characters, and to 3 when the path is still too long.
TEST_F(FileExportTest, DeepFolderCutsTheNameToFiveThenThreeCharacters) {
    const long pathMax = ::pathconf(out_.c_str(), _PC_PATH_MAX);
    ASSERT_GT(pathMax, 0);
    const std::string subject = "Forty characters of subject text here!!";
    for (const auto& [room, expected] :
         {std::pair<long, std::string>{30, "Forty.msg"}, {7, "For.msg"}, {200, ""}}) {
        // A folder whose path leaves `room` bytes for "/name.msg".
        fs::path folder = dir_ / "deep";
        const long target = pathMax - room;
        while (static_cast<long>(folder.string().size()) + 201 < target)
            folder /= std::string(200, 'd');
        folder /= std::string(target - folder.string().size() - 1, 'e');
        ASSERT_EQ(static_cast<long>(folder.string().size()), target);
        fs::create_directories(folder);
        state_.fileExportFolder = folder.string();
        state_.currentSubject = subject;
        const fs::path path = MakeMessageFilePath(state_);
        EXPECT_EQ(path.filename().string(), expected.empty() ? subject + ".msg" : expected);
        fs::remove_all(dir_ / "deep");
    }
}

TEST_F(FileExportTest, ExportFileNamesFollowTheirSeries) {
    struct Case {
        SaveFormat format;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {SaveFormat::Eml, {"n.eml", "n0.eml", "n1.eml"}},
        {SaveFormat::Rtf, {"n.rtf", "n0.rtf", "n1.rtf"}},
        {SaveFormat::Html, {"n.html", "n.0.html", "n.1.html"}},
        {SaveFormat::Pdf, {"n.pdf", "n0.pdf", "n1.pdf"}},
    };
    for (const Case& c : cases) {
        for (const std::string& expected : c.names) {
            const ReservedPath reserved =
                MakeUniqueExportPath((out_ / ("n" + ExportExtension(c.format))).string(), c.format);
            ASSERT_TRUE(reserved) << reserved.error;
            EXPECT_EQ(reserved.path, (out_ / expected).string());
            EXPECT_EQ(fs::file_size(reserved.path), 0u);
        }
    }
    // A missing folder is a failure, not a path handed on.
    EXPECT_FALSE(MakeUniqueExportPath((out_ / "none" / "n.eml").string(), SaveFormat::Eml));
}

// A link planted under the name an export would take is neither followed nor replaced.
TEST_F(FileExportTest, ExistingLinkIsNotFollowed) {
    const fs::path outside = dir_ / "outside.txt";
    std::ofstream(outside) << "keep";
    fs::create_symlink(outside, out_ / "Quarterly report.eml");
    write(TestMail{}, SaveFormat::Eml);
    EXPECT_EQ(readFile(outside), "keep");
    EXPECT_TRUE(fs::is_symlink(out_ / "Quarterly report.eml"));
    EXPECT_TRUE(fs::exists(out_ / "Quarterly report0.eml"));
}

// ------------------------------------------------------------------------------------------
// What each format leaves in the folder

TEST_F(FileExportTest, SameSubjectTwiceGivesTwoFilesOfTheFormatOnly) {
    const std::map<SaveFormat, std::set<std::string>> expected = {
        {SaveFormat::Msg, {"Quarterly report.msg", "Quarterly report1.msg"}},
        {SaveFormat::Eml, {"Quarterly report.eml", "Quarterly report0.eml"}},
        {SaveFormat::Rtf, {"Quarterly report.rtf", "Quarterly report0.rtf"}},
        {SaveFormat::Html, {"Quarterly report.html", "Quarterly report.0.html"}},
        {SaveFormat::Pdf, {"Quarterly report.pdf", "Quarterly report0.pdf"}},
    };
    TestMail mail;
    mail.attachments = {{"notes.txt", "attached text\n"}};
    for (const auto& [format, names] : expected) {
        SCOPED_TRACE(formatName(format));
        fs::remove_all(out_);
        fs::create_directories(out_);
        write(mail, format);
        write(mail, format);
        EXPECT_EQ(filesBelow(out_), names);
        for (const std::string& name : names)
            EXPECT_GT(fs::file_size(out_ / name), 0u);
        // The extracted attachment files are gone once attached.
        EXPECT_TRUE(filesBelow(dir_ / "tmp").empty());
    }
}

// Only the name's own extension changes: a folder named like a message file is left alone.
TEST_F(FileExportTest, FolderNamedLikeAMessageFileKeepsItsName) {
    const fs::path folder = dir_ / "exports.msg" / "Inbox.msg";
    fs::create_directories(folder);
    state_.fileExportFolder = folder.string();
    TestMail mail;
    mail.subject = "about.msg files";
    for (SaveFormat format :
         {SaveFormat::Eml, SaveFormat::Rtf, SaveFormat::Html, SaveFormat::Pdf, SaveFormat::Msg})
        write(mail, format);
    EXPECT_EQ(
        filesBelow(dir_ / "exports.msg"),
        (std::set<std::string>{"Inbox.msg/about.msg files.msg", "Inbox.msg/about.msg files.eml",
                               "Inbox.msg/about.msg files.rtf", "Inbox.msg/about.msg files.html",
                               "Inbox.msg/about.msg files.pdf"}));
    EXPECT_FALSE(fs::exists(dir_ / "exports.eml"));
}

// A mail that cannot be written fails with a reason, and leaves neither the intermediate MSG
// file nor an empty file under the export's name.
TEST_F(FileExportTest, FailedExportLeavesNothingBehind) {
    TestMail mail;
    for (SaveFormat format : kFileFormats) {
        SCOPED_TRACE(formatName(format));
        // An attachment whose extracted file has gone.
        ItemHolder holder;
        holder.record = std::make_unique<ItemRecord>();
        state_.saveFormat = format;
        state_.extractedAttachments = {{"gone.txt", (dir_ / "tmp" / "gone.txt").string()}};
        EXPECT_THROW(WriteMailToFile(nullptr, holder, conv_), component::ComponentError);
        EXPECT_TRUE(filesBelow(out_).empty());
    }
    // A session whose items cannot write the format: the save-as fails after the name was
    // reserved.
    component::FileWriters writers = MessageFileWriters();
    writers.rtf = nullptr;
    conv_.jobSession = component::createObject("KestraneDll.RDOSession", writers);
    EXPECT_THROW(write(mail, SaveFormat::Rtf), component::ComponentError);
    EXPECT_TRUE(filesBelow(out_).empty());
    // No session at all.
    conv_.jobSession = nullptr;
    EXPECT_THROW(write(mail, SaveFormat::Eml), component::ComponentError);
    EXPECT_TRUE(filesBelow(out_).empty());
}

// Caps the size of the files this process writes, so that a write stops part-way the way it
// does on a full disk (the signal the system sends then is ignored for the while).
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~ScopedFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

// The export is written straight into the file that reserved its name (and, for MSG, into the
// new file): a write that stops part-way fails the mail and leaves no file of any kind behind,
// and the next mail of the same subject takes the name again.
TEST_F(FileExportTest, WriteStoppingPartWayLeavesNothingBehind) {
    TestMail mail;
    // Lines that differ, so that no format compresses them below the limit.
    for (int i = 0; i < 1500; ++i)
        mail.body +=
            "Line " + std::to_string(i * 7919 % 10007) + " of a body far larger than the limit.\n";
    mail.attachments = {{"notes.txt", std::string(2000, 'n')}};
    for (SaveFormat format : kFileFormats) {
        SCOPED_TRACE(formatName(format));
        fs::remove_all(out_);
        fs::create_directories(out_);
        {
            ScopedFileSizeLimit limit(8192);
            EXPECT_THROW(write(mail, format), component::ComponentError);
        }
        EXPECT_TRUE(filesBelow(out_).empty());
        EXPECT_TRUE(filesBelow(dir_ / "tmp").empty());
        write(mail, format);
        EXPECT_EQ(filesBelow(out_),
                  (std::set<std::string>{"Quarterly report" + ExportExtension(format)}));
    }
}

// As the save job writes them, on the background writer: every mail's file is complete once the
// writes are finished, and a write that stops part-way turns the mail's row into a failure,
// counts it as failed instead of saved and leaves no file behind.
TEST_F(FileExportTest, BackgroundWritesCompleteOrFailTheirMailsRow) {
    conv_.enableBackgroundWrites();
    TestMail mail;
    mail.attachments = {{"notes.txt", "attached text\n"}};
    TestMail large = mail;
    for (int i = 0; i < 1500; ++i)
        large.body += "Line " + std::to_string(i * 7919 % 10007) + " of a long body.\n";
    for (SaveFormat format : {SaveFormat::Eml, SaveFormat::Rtf, SaveFormat::Html}) {
        SCOPED_TRACE(formatName(format));
        fs::remove_all(out_);
        fs::create_directories(out_);
        state_.log.clear();
        state_.itemsSaved = 0;
        state_.itemsFailed = 0;
        // The way the save job goes through its items: a row per item, counted as saved once
        // its writer returned.
        const auto saveItem = [&](const TestMail& item) {
            conv_.beginItem();
            conv_.logItem("Message", item.subject);
            write(item, format);
            ++state_.itemsSaved;
        };
        for (int i = 0; i < 3; ++i)
            saveItem(mail);
        conv_.finishBackgroundWrites(true);
        EXPECT_EQ(filesBelow(out_).size(), 3u);
        for (const std::string& name : filesBelow(out_))
            EXPECT_GT(fs::file_size(out_ / name), 0u) << name;
        {
            ScopedFileSizeLimit limit(8192);
            saveItem(large);
            conv_.finishBackgroundWrites(true);
        }
        EXPECT_EQ(filesBelow(out_).size(), 3u);
        EXPECT_EQ(state_.itemsSaved.load(), 3);
        EXPECT_EQ(state_.itemsFailed.load(), 1);
        const auto rows = state_.log.rows();
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[2].status, "Converted");
        EXPECT_TRUE(rows[3].status.starts_with("Failed: The item could not be saved as "))
            << rows[3].status;
    }
}

// The intermediate MSG file of the other formats is not written, but a mail that no MSG file
// could hold still fails in every format, with the reason the MSG file gives.
TEST_F(FileExportTest, MailBeyondWhatAnMsgFileHoldsFailsInEveryFormat) {
    TestMail mail;
    mail.to.clear();
    for (int i = 0; i < 2049; ++i)
        mail.to.push_back({kTo, "", "r" + std::to_string(i) + "@example.com", ""});
    for (SaveFormat format : kFileFormats) {
        SCOPED_TRACE(formatName(format));
        try {
            write(mail, format);
            ADD_FAILURE() << "the export succeeded";
        } catch (const component::ComponentError& e) {
            EXPECT_NE(std::string(e.what()).find("at most 2048 recipients"), std::string::npos)
                << e.what();
        }
        EXPECT_TRUE(filesBelow(out_).empty());
    }
}

// The mail reader on a mail document, as the save job hands it over: the attachments are copied
// out of the archive, attached, and gone from the temporary folder afterwards.
TEST_F(FileExportTest, MailReadFromItsDocumentIsExportedWithItsAttachments) {
    olmgen::Mail mail;
    mail.subject = "Minutes: 2026/01";
    mail.from = {"Ann Example", "ann@example.com"};
    mail.to = {{"Bob", "bob@example.com"}};
    mail.sentTime = "2026-01-06T10:00:00";
    mail.body = "See the minutes attached.";
    mail.attachments = {{"minutes", "txt", "text/plain", "", "minutes text\n", ""},
                        {"chart.png", "png", "image/png", "", std::string("\x89PNG\0\1", 7), ""}};
    ASSERT_NO_FATAL_FAILURE(exportMailDocument(mail));

    EXPECT_EQ(filesBelow(out_), (std::set<std::string>{"Minutes_ 2026_01.eml"}));
    EXPECT_TRUE(filesBelow(dir_ / "tmp").empty());
    const auto json = [&] {
        const auto r = runCommand("python3 " +
                                  shellQuote(PARVELLE_SOURCE_DIR "/tests/exports/read_export.py") +
                                  " eml " + shellQuote((out_ / "Minutes_ 2026_01.eml").string()));
        return parvelle::testing::parseJson(r.out);
    }();
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["defects"].size(), 0u);
    EXPECT_EQ((*json)["subject"].str(), mail.subject);
    ASSERT_EQ((*json)["attachments"].size(), 2u);
    EXPECT_EQ((*json)["attachments"][0]["name"].str(), "minutes.txt");
    EXPECT_EQ((*json)["attachments"][0]["sha256"].str(), sha256("minutes text\n"));
    EXPECT_EQ((*json)["attachments"][1]["name"].str(), "chart.png");
    EXPECT_EQ((*json)["attachments"][1]["sha256"].str(), sha256(std::string("\x89PNG\0\1", 7)));
}

// Attachment names from a damaged document: two that differ only after a NUL, an extension
// holding a path, and a name longer than a file name may be. Each attachment is copied out to a
// file of its own inside the temporary folder and arrives with its own bytes.
TEST_F(FileExportTest, AttachmentNamesOfAnyFormKeepTheirOwnFiles) {
    olmgen::Mail mail;
    mail.subject = "Damaged names";
    mail.from = {"Ann Example", "ann@example.com"};
    mail.to = {{"Bob", "bob@example.com"}};
    mail.sentTime = "2026-01-06T10:00:00";
    mail.attachments = {
        {std::string("a\0x", 3), "", "text/plain", "", "first\n", ""},
        {std::string("a\0y", 3), "", "text/plain", "", "second\n", ""},
        {"", "/../../escape", "text/plain", "", "third\n", ""},
        {std::string(150, 'x') + "\u00e9\u00e9\u00e9" + std::string(150, 'y') + ".txt", "",
         "text/plain", "", "fourth\n", ""}};
    ASSERT_NO_FATAL_FAILURE(exportMailDocument(mail));

    EXPECT_EQ(filesBelow(out_), (std::set<std::string>{"Damaged names.eml"}));
    EXPECT_TRUE(filesBelow(dir_ / "tmp").empty());
    EXPECT_FALSE(fs::exists(dir_ / "escape"));
    const auto r =
        runCommand("python3 " + shellQuote(PARVELLE_SOURCE_DIR "/tests/exports/read_export.py") +
                   " eml " + shellQuote((out_ / "Damaged names.eml").string()));
    const auto json = parvelle::testing::parseJson(r.out);
    ASSERT_TRUE(json) << r.out;
    ASSERT_EQ((*json)["attachments"].size(), 4u);
    EXPECT_EQ((*json)["attachments"][0]["sha256"].str(), sha256("first\n"));
    EXPECT_EQ((*json)["attachments"][1]["sha256"].str(), sha256("second\n"));
    EXPECT_EQ((*json)["attachments"][2]["sha256"].str(), sha256("third\n"));
    EXPECT_EQ((*json)["attachments"][3]["sha256"].str(), sha256("fourth\n"));
}

// ------------------------------------------------------------------------------------------
// Content, read back by other readers

TestMail richMail() {
    TestMail mail;
    mail.subject = "RE: Plan <Q3> & \"budget\" — 計画 📈";
    mail.to.push_back({kTo, "Ana Müller", "ana@example.de", ""});
    mail.cc = {{kCc, "محمد علي", "mohamed@example.eg", ""}};
    mail.body = "First line of the body.\r\nSecond line: ünïcödé, 日本語, {braces} \\slash\\.\r\n"
                "Third line.";
    mail.attachments = {{"notes.txt", "small attachment ✓\n"},
                        {"data 日本.bin", std::string("\0\1\2\3binary\xff", 11)}};
    return mail;
}

std::optional<parvelle::testing::JsonValue> readExport(const std::string& kind,
                                                       const fs::path& file) {
    const auto r =
        runCommand("python3 " + shellQuote(PARVELLE_SOURCE_DIR "/tests/exports/read_export.py") +
                   " " + kind + " " + shellQuote(file.string()));
    EXPECT_EQ(r.exitCode, 0) << r.out;
    return parvelle::testing::parseJson(r.out);
}

fs::path onlyFile(const fs::path& dir) {
    const auto files = filesBelow(dir);
    EXPECT_EQ(files.size(), 1u);
    return files.empty() ? fs::path() : dir / *files.begin();
}

// Attachments inflated into memory go with their mail to the writing threads when they are
// small, and are written on the job thread when they are large (so that the queued mails hold
// little); either way every byte reaches the file.
TEST_F(FileExportTest, AttachmentsHeldInMemoryAreExportedWhateverTheirSize) {
    conv_.enableBackgroundWrites();
    conv_.openArchiveMember = [this](const mailbox::ItemSource& source) {
        const std::string& bytes = archive_.at(source.offset);
        return std::optional(
            mapi::AttachmentContent::fromBytes(mapi::Binary(bytes.begin(), bytes.end())));
    };
    std::string large(9u << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string small = "a few bytes\n";
    const std::vector<const std::string*> contents = {&small, &large, &small};
    int n = 0;
    for (const std::string* content : contents) {
        olmgen::Mail mail;
        mail.subject = "Mail " + std::to_string(++n);
        mail.from = {"Ann Example", "ann@example.com"};
        mail.to = {{"Bob", "bob@example.com"}};
        mail.sentTime = "2026-01-06T10:00:00";
        mail.body = "Attached.";
        mail.attachments = {{"data", "bin", "application/octet-stream", "", *content, ""}};
        const std::string url = "Accounts/acct/com.microsoft.__Messages/Inbox/"
                                "com.microsoft.__Attachments/m" +
                                std::to_string(n);
        mailbox::AttachmentDetails member;
        member.offset = n;
        state_.memberPaths[url] = member;
        archive_[member.offset] = *content;
        MarkupDocument doc;
        ASSERT_TRUE(doc.SetText(olmgen::mailDocument(mail, "m" + std::to_string(n), {url})));
        ASSERT_TRUE(doc.FindSibling("emails"));
        state_.saveFormat = SaveFormat::Eml;
        conv_.beginItem();
        ItemHolder holder;
        ReadEmails(doc, nullptr, holder, conv_);
    }
    conv_.finishBackgroundWrites(true);
    EXPECT_EQ(state_.itemsFailed.load(), 0);
    n = 0;
    for (const std::string* content : contents) {
        const std::string name = "Mail " + std::to_string(++n) + ".eml";
        SCOPED_TRACE(name);
        const auto json = readExport("eml", out_ / name);
        ASSERT_TRUE(json);
        EXPECT_EQ((*json)["defects"].size(), 0u);
        ASSERT_EQ((*json)["attachments"].size(), 1u);
        EXPECT_EQ((*json)["attachments"][0]["name"].str(), "data.bin");
        EXPECT_EQ((*json)["attachments"][0]["sha256"].str(), sha256(*content));
    }
}

TEST_F(FileExportTest, MsgFileHoldsTheMailForEveryReader) {
    const TestMail mail = richMail();
    write(mail, SaveFormat::Msg);
    const fs::path file = onlyFile(out_);
    auto back = msg::readMsgFile(file.string());
    ASSERT_TRUE(back.ok()) << back.error();
    const mapi::Message& m = *back;
    EXPECT_EQ(m.props.string(tags::kSubject), mail.subject);
    EXPECT_EQ(m.props.string(tags::kBody), mail.body);
    EXPECT_EQ(m.props.string(tags::kSenderEmail), mail.sender.address);
    EXPECT_EQ(m.props.string(tags::kMessageClass), "IPM.Note");
    EXPECT_EQ(m.props.int32(tags::kMessageFlags) & tags::kMsgFlagUnsent, 0);
    ASSERT_EQ(m.recipients.size(), 3u);
    EXPECT_EQ(m.recipients[0].displayName(), "山田 太郎");
    EXPECT_EQ(m.recipients[2].kind(), tags::kRecipCc);
    ASSERT_EQ(m.attachments.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(m.attachments[i].props.string(tags::kAttachLongFilename),
                  mail.attachments[i].name);
        EXPECT_EQ(parvelle::testing::contentSha256(m.attachments[i].content),
                  sha256(mail.attachments[i].bytes));
    }
    const auto submit = m.props.get(tags::kClientSubmitTime);
    ASSERT_NE(submit, nullptr);
    EXPECT_EQ(submit->asTime()->toUnixSeconds(), *platform::parseDateTime(mail.sentTime));

    // Three independent readers see the same message.
    if (auto python = parvelle::testing::olefilePython()) {
        auto r =
            runCommand(*python + " " + shellQuote(PARVELLE_SOURCE_DIR "/tests/msg/msg_dump.py") +
                       " " + shellQuote(file.string()));
        ASSERT_EQ(r.exitCode, 0);
        auto json = parvelle::testing::parseJson(r.out);
        ASSERT_TRUE(json) << r.out;
        EXPECT_EQ((*json)["problems"].size(), 0u) << (*json)["problems"][0].str();
        parvelle::testing::expectSummaryMatches(*json, m, {}, "olefile");
    }
    if (auto script = parvelle::testing::msgreaderScript()) {
        auto r = runCommand("node " + shellQuote(*script) + " " + shellQuote(file.string()));
        ASSERT_EQ(r.exitCode, 0);
        auto json = parvelle::testing::parseJson(r.out);
        ASSERT_TRUE(json) << r.out;
        parvelle::testing::expectSummaryMatches(*json, m, {}, "msgreader");
    }
    if (auto msgconvert = parvelle::testing::msgconvertProgram()) {
        const fs::path eml = dir_ / "msgconvert.eml";
        const auto converted = runCommand(*msgconvert + " --outfile " + shellQuote(eml.string()) +
                                          " " + shellQuote(file.string()) + " 2>&1");
        ASSERT_EQ(converted.exitCode, 0) << converted.out;
        auto r = runCommand("python3 " + shellQuote(PARVELLE_SOURCE_DIR "/tests/msg/eml_dump.py") +
                            " < " + shellQuote(eml.string()));
        ASSERT_EQ(r.exitCode, 0);
        auto json = parvelle::testing::parseJson(r.out);
        ASSERT_TRUE(json) << r.out;
        parvelle::testing::ReaderGaps gaps;
        gaps.bcc = gaps.messageClass = gaps.named = gaps.looseText = true;
        // A sender named by its address comes out of msgconvert as the bare address.
        EXPECT_EQ((*json)["senderEmail"].str(), mail.sender.address);
        mapi::Message bare = m;
        bare.props.remove(tags::kSenderEmail);
        parvelle::testing::expectSummaryMatches(*json, bare, gaps, "msgconvert");
    }
}

TEST_F(FileExportTest, EmlFileParsesWithoutDefects) {
    for (const bool html : {false, true}) {
        SCOPED_TRACE(html ? "html body" : "plain body");
        fs::remove_all(out_);
        fs::create_directories(out_);
        TestMail mail = richMail();
        if (html)
            mail.html = "<html><head><style>p{color:red}</style></head><body><p>HTML "
                        "body — 日本語 &amp; more</p></body></html>";
        write(mail, SaveFormat::Eml);
        const auto json = readExport("eml", onlyFile(out_));
        ASSERT_TRUE(json);
        const auto& j = *json;
        EXPECT_EQ(j["defects"].size(), 0u) << j["defects"][0].str();
        EXPECT_EQ(j["subject"].str(), mail.subject);
        EXPECT_EQ(j["from"].str(), mail.sender.address);
        EXPECT_NE(j["to"].str().find("taro@example.jp"), std::string::npos) << j["to"].str();
        EXPECT_NE(j["to"].str().find("ana@example.de"), std::string::npos) << j["to"].str();
        EXPECT_NE(j["cc"].str().find("mohamed@example.eg"), std::string::npos);
        EXPECT_FALSE(j["date"].str().empty());
        if (html) {
            EXPECT_NE(j["html"].str().find("HTML body — 日本語"), std::string::npos);
            // The plain part is the text of the HTML body.
            EXPECT_NE(j["plain"].str().find("HTML body — 日本語 & more"), std::string::npos)
                << j["plain"].str();
        } else {
            EXPECT_NE(j["plain"].str().find("Second line: ünïcödé, 日本語, {braces} \\slash\\."),
                      std::string::npos)
                << j["plain"].str();
        }
        ASSERT_EQ(j["attachments"].size(), mail.attachments.size());
        for (std::size_t i = 0; i < mail.attachments.size(); ++i) {
            EXPECT_EQ(j["attachments"][i]["name"].str(), mail.attachments[i].name);
            EXPECT_EQ(j["attachments"][i]["sha256"].str(), sha256(mail.attachments[i].bytes));
        }
    }
}

// The header lines of the RTF and HTML documents, as a reader shows them.
std::vector<std::pair<std::string, std::string>> expectedHeaders(const TestMail& mail) {
    return {
        {"From", mail.sender.address},
        {"Sent", platform::localDateTimeText(*platform::parseDateTime(mail.sentTime))},
        {"To", "山田 太郎 <taro@example.jp>; Ana Müller <ana@example.de>"},
        {"Cc", "محمد علي <mohamed@example.eg>"},
        {"Subject", mail.subject},
        {"Attachments", "notes.txt; data 日本.bin"},
    };
}

TEST_F(FileExportTest, RtfDocumentShowsTheHeaderLinesAndTheBody) {
    const TestMail mail = richMail();
    write(mail, SaveFormat::Rtf);
    const auto json = readExport("rtf", onlyFile(out_));
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["ascii"].str(), "true");
    std::string expected;
    for (const auto& [label, value] : expectedHeaders(mail))
        expected += label + ":\t" + value + "\n";
    expected += "\nFirst line of the body.\nSecond line: ünïcödé, 日本語, {braces} "
                "\\slash\\.\nThird line.";
    EXPECT_EQ((*json)["text"].str(), expected);
    if (!(*json)["unrtf"].isNull()) {
        // unrtf lays the text out its own way; every line must still be there, in order.
        const std::string unrtf = (*json)["unrtf"].str();
        std::size_t at = 0;
        for (const auto& [label, value] : expectedHeaders(mail)) {
            at = unrtf.find(value, at);
            EXPECT_NE(at, std::string::npos) << value << " missing from:\n" << unrtf;
            if (at == std::string::npos)
                break;
        }
        EXPECT_NE(unrtf.find("Third line."), std::string::npos) << unrtf;
    }
}

TEST_F(FileExportTest, HtmlDocumentIsUtf8WithEscapedHeaderLines) {
    for (const bool html : {false, true}) {
        SCOPED_TRACE(html ? "html body" : "plain body");
        fs::remove_all(out_);
        fs::create_directories(out_);
        TestMail mail = richMail();
        if (html)
            mail.html = "<html><head><meta charset=\"windows-1252\"><style>p{color:red}</style>"
                        "</head><body class=\"x\"><p>HTML body — 日本語</p></body></html>";
        write(mail, SaveFormat::Html);
        const fs::path file = onlyFile(out_);
        const std::string bytes = readFile(file);
        // The subject's markup characters are text, never markup.
        EXPECT_EQ(bytes.find("<Q3>"), std::string::npos);
        const auto json = readExport("html", file);
        ASSERT_TRUE(json);
        const auto& j = *json;
        EXPECT_EQ(j["utf8"].str(), "true");
        EXPECT_EQ(j["charset"].str(), "utf-8");
        EXPECT_EQ(j["title"].str(), mail.subject);
        const auto headers = expectedHeaders(mail);
        ASSERT_EQ(j["rows"].size(), headers.size());
        for (std::size_t i = 0; i < headers.size(); ++i) {
            EXPECT_EQ(j["rows"][i][0].str(), headers[i].first + ":");
            EXPECT_EQ(j["rows"][i][1].str(), headers[i].second);
        }
        if (html) {
            EXPECT_NE(j["body"].str().find("HTML body — 日本語"), std::string::npos);
            EXPECT_NE(bytes.find("p{color:red}"), std::string::npos);
        } else {
            std::string body = j["body"].str();
            std::erase(body, '\r');
            EXPECT_NE(body.find("First line of the body.\nSecond line: ünïcödé, 日本語, {braces} "
                                "\\slash\\.\nThird line."),
                      std::string::npos)
                << body;
        }
    }
}

std::vector<std::string> pdfLines(const fs::path& pdf) {
    const auto r =
        runCommand("pdftotext -raw -enc UTF-8 " + shellQuote(pdf.string()) + " - 2>/dev/null");
    std::istringstream text(r.out);
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\f'))
            line.pop_back();
        if (!line.empty() && line.front() == '\f')
            line.erase(0, 1);
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

TEST_F(FileExportTest, PdfShowsTheHeaderLinesAndTheBodyInOrder) {
    if (runCommand("command -v pdftotext >/dev/null 2>&1").exitCode != 0)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    for (const bool html : {false, true}) {
        SCOPED_TRACE(html ? "html body only" : "plain body");
        fs::remove_all(out_);
        fs::create_directories(out_);
        TestMail mail = richMail();
        // Left-to-right names only: pdftotext gives right-to-left runs in visual order.
        mail.subject = "RE: Plan Q3 and budget";
        mail.cc = {{kCc, "Mohamed Ali", "mohamed@example.eg", ""}};
        if (html) {
            mail.html = "<html><body><p>First line of the body.</p><p>Third line.</p></body>"
                        "</html>";
            mail.cc.clear();
            mail.attachments.clear();
        }
        write(mail, SaveFormat::Pdf);
        const auto lines = pdfLines(onlyFile(out_));
        std::vector<std::string> expected = {"From: " + mail.sender.address,
                                             "To: 山田 太郎; Ana Müller"};
        if (!html) {
            expected.push_back("Cc: Mohamed Ali");
            expected.push_back("Subject: " + mail.subject);
            expected.push_back("Attachment : notes.txt data 日本.bin");
            expected.push_back("First line of the body.");
            expected.push_back("Second line: ünïcödé, 日本語, {braces} \\slash\\.");
        } else {
            expected.push_back("Subject: " + mail.subject);
            expected.push_back("First line of the body.");
        }
        expected.push_back("Third line.");
        EXPECT_EQ(lines, expected);
    }
}

} // namespace
} // namespace parvelle::items
