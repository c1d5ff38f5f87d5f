#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mailbox/preview_job.h"
#include "mailbox/progress_job.h"
#include "olmgen/olmgen.h"
#include "recording_frontend.h"
#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

namespace fs = std::filesystem;

// Records every PreviewReady with what the reading pane would read while handling it.
class PreviewFrontEnd : public JobFrontEnd {
public:
    explicit PreviewFrontEnd(JobState& state) : state_(state) {}
    void send(Notification n, std::int64_t, const void* lParam) override {
        if (n != Notification::PreviewReady)
            return;
        const auto* record = static_cast<const RecoveredOlmHeaderData*>(lParam);
        shown.push_back({record->subject, state_.previewHtml});
    }
    void closeJobWindows() override { ++closed; }

    struct Shown {
        std::string subject;
        std::string html;
    };
    std::vector<Shown> shown;
    int closed = 0;

private:
    JobState& state_;
};

olmgen::ArchiveDescription description() {
    olmgen::Account acct;
    acct.name = "acct";
    olmgen::Mail withFiles;
    withFiles.subject = "With files";
    withFiles.htmlBody = "<p>Body</p>";
    olmgen::Attachment a;
    a.name = "report.pdf";
    a.extension = "pdf";
    a.content = "%PDF-1.4 data";
    olmgen::Attachment b = a;
    b.content = "second file with the same name";
    withFiles.attachments = {a, b};
    olmgen::Mail plain;
    plain.subject = "Plain";
    acct.mailFolders.push_back({"Inbox", {withFiles, plain}, {}});
    olmgen::ItemFolder contacts;
    contacts.path = "Contacts";
    olmgen::Contact c1;
    c1.displayName = "Carl";
    olmgen::Contact c2;
    c2.displayName = "Dora";
    contacts.contacts = {c1, c2};
    acct.itemFolders.push_back(contacts);
    olmgen::ArchiveDescription d;
    d.accounts.push_back(acct);
    return d;
}

class PreviewJobTest : public ::testing::TestWithParam<olmgen::Compression> {
protected:
    void SetUp() override {
        const fs::path archive = dir / "a.olm";
        olmgen::WriteOptions options;
        options.compression = GetParam();
        ASSERT_TRUE(olmgen::writeArchive(description(), archive, options).ok());
        state.archivePath = archive.string();
        state.tempFolder = (dir / "work").string();
        fs::create_directories(state.tempFolder);
        testing::RecordingFrontEnd ui;
        ProgressJob scan(state, ui, JobKind::Scan);
        scan.run();
    }

    const RecoveredOlmHeaderData& item(const std::string& subject) {
        for (const auto& details : state.folderItems)
            for (const auto& record : details->items)
                if (record.subject == subject)
                    return record;
        throw std::runtime_error("no item " + subject);
    }

    std::vector<PreviewFrontEnd::Shown> preview(const std::string& subject) {
        PreviewFrontEnd ui(state);
        PreviewJob job(state, ui, item(subject));
        job.start();
        job.join();
        EXPECT_EQ(ui.closed, 1);
        return ui.shown;
    }

    static std::string contents(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    parvelle::testing::TempDir dir;
    JobState state;
};

TEST_P(PreviewJobTest, MailIsShownAndItsAttachmentsAreExtracted) {
    const auto shown = preview("With files");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].subject, "With files");
    EXPECT_EQ(shown[0].html, "<p>Body</p>");
    ASSERT_EQ(state.extractedPaths.size(), 2u);
    EXPECT_EQ(fs::path(state.extractedPaths[0]).parent_path(), fs::path(state.attachmentsFolder));
    EXPECT_NE(state.extractedPaths[0], state.extractedPaths[1]);
    EXPECT_EQ(contents(state.extractedPaths[0]), "%PDF-1.4 data");
    EXPECT_EQ(contents(state.extractedPaths[1]), "second file with the same name");

    // The next preview starts by removing the previous attachments.
    const auto next = preview("Plain");
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].html, "");
    EXPECT_TRUE(fs::is_empty(state.attachmentsFolder));
    EXPECT_TRUE(state.extractedPaths.empty());
}

TEST_P(PreviewJobTest, EachContactOfOneDocumentIsPreviewedOnItsOwn) {
    for (const char* name : {"Carl", "Dora"}) {
        const auto shown = preview(name);
        ASSERT_EQ(shown.size(), 1u) << name;
        EXPECT_NE(shown[0].html.find(std::string("<p> Name : ") + name), std::string::npos);
    }
}

TEST_P(PreviewJobTest, UnknownItemOrUnreadableArchiveSendsNothing) {
    RecoveredOlmHeaderData unknown = item("Plain");
    unknown.offset += 1;
    PreviewFrontEnd first(state);
    PreviewJob(state, first, unknown).run();
    EXPECT_TRUE(first.shown.empty());
    EXPECT_EQ(first.closed, 1);

    state.archivePath = (dir / "missing.olm").string();
    PreviewFrontEnd second(state);
    PreviewJob(state, second, item("Plain")).run();
    EXPECT_TRUE(second.shown.empty());
    EXPECT_EQ(second.closed, 1);
}

INSTANTIATE_TEST_SUITE_P(Compression, PreviewJobTest,
                         ::testing::Values(olmgen::Compression::Stored,
                                           olmgen::Compression::Deflated));

TEST(ClearPreviewFiles, RemovesFilesButNotFolders) {
    parvelle::testing::TempDir dir;
    std::ofstream(dir / "a.html") << "x";
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "sub" / "b.txt") << "y";
    ClearPreviewFiles(dir.path().string());
    EXPECT_FALSE(fs::exists(dir / "a.html"));
    EXPECT_TRUE(fs::exists(dir / "sub" / "b.txt"));
    ClearPreviewFiles("");
}

} // namespace
} // namespace parvelle::mailbox
