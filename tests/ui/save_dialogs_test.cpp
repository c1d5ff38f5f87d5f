#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "temp_dir.h"
#include "ui/save_dialogs.h"
#include "ui/texts.h"

namespace parvelle::ui {
namespace {

namespace fs = std::filesystem;
using mailbox::JobState;

struct RecordingSink : MessageSink {
    int showMessage(const std::string& text, MessageIcon icon, bool okOnly) override {
        shown.push_back({text, icon});
        EXPECT_TRUE(okOnly);
        return -1;
    }
    std::vector<std::pair<std::string, MessageIcon>> shown;
};

struct FakeStore : StoreServices {
    std::vector<ProfileStore> profileStores() override { return profiles; }
    PstOpenResult testOpen(const std::string& path, const std::string& password) override {
        opened.push_back(path + "|" + password);
        if (path.find("bad") != std::string::npos)
            return PstOpenResult::Invalid;
        if (path.find("locked") != std::string::npos && password != "secret")
            return PstOpenResult::PasswordRequired;
        return PstOpenResult::Accepted;
    }
    std::vector<ProfileStore> profiles;
    std::vector<std::string> opened;
};

TEST(DestinationSubfolder, NamesTheFolderByTheTimeOfTheClick) {
    setenv("TZ", "UTC0", 1);
    tzset();
    // 2013-04-05 14:07:09 UTC
    const std::time_t t = 1365170829;
    EXPECT_EQ(destinationSubfolder("/out", t), "/out/Converted Data(05-Apr-2013 02.07.09)");
    EXPECT_EQ(destinationSubfolder("/out/", t), destinationSubfolder("/out", t));
    EXPECT_EQ(destinationSubfolder("/out", 1365120000),
              "/out/Converted Data(05-Apr-2013 12.00.00)");
}

TEST(FormatChoice, RadioButtonsMapToFormats) {
    JobState s;
    FormatChoiceLogic logic(s);
    s.saveFormat = mailbox::SaveFormat::Pdf;
    logic.open();
    EXPECT_EQ(s.saveFormat, mailbox::SaveFormat::None);
    EXPECT_EQ(logic.checked(), 0);
    const mailbox::SaveFormat expected[] = {mailbox::SaveFormat::Pst,      mailbox::SaveFormat::Msg,
                                            mailbox::SaveFormat::Eml,      mailbox::SaveFormat::Rtf,
                                            mailbox::SaveFormat::Html,     mailbox::SaveFormat::Pdf,
                                            mailbox::SaveFormat::Office365};
    for (int i = 0; i < FormatChoiceLogic::kChoices; ++i) {
        logic.accept(i);
        EXPECT_EQ(s.saveFormat, expected[i]) << FormatChoiceLogic::labelAt(i);
    }
}

TEST(NewPst, BrowsingEnablesOkAndOkCreatesTheDatedFolder) {
    parvelle::testing::TempDir dir;
    JobState s;
    int requested = 0;
    NewPstLogic logic(s, requested);
    logic.open();
    EXPECT_EQ(requested, 1);
    EXPECT_FALSE(logic.folder().okEnabled());
    logic.folder().browseStarted();
    logic.folder().browseFinished(std::nullopt);
    EXPECT_FALSE(logic.folder().okEnabled());
    logic.folder().browseFinished(dir.path().string());
    EXPECT_TRUE(logic.folder().okEnabled());
    logic.folder().browseStarted();
    logic.folder().browseFinished(std::nullopt); // cancelled, but a folder was chosen before
    EXPECT_TRUE(logic.folder().okEnabled());
    logic.setPerMailbox(false);
    EXPECT_TRUE(logic.accept(1365170829));
    EXPECT_EQ(s.pstPerMailbox, 0);
    EXPECT_TRUE(fs::is_directory(s.destinationPath));
    EXPECT_EQ(fs::path(s.destinationPath).parent_path(), dir.path());

    logic.chooseAppend();
    EXPECT_EQ(s.newPst, 0);
    EXPECT_EQ(requested, 0);
}

TEST(Append, WithoutProfilesTheFileChoiceIsOfferedAndValidated) {
    parvelle::testing::TempDir dir;
    JobState s;
    int requested = 0;
    FakeStore store;
    RecordingSink sink;
    AppendLogic logic(s, requested, store, sink);
    logic.open();
    EXPECT_FALSE(logic.profileMode());
    EXPECT_FALSE(logic.okEnabled());
    EXPECT_TRUE(logic.browseEnabled());

    EXPECT_FALSE(logic.accept({}));
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0].first, texts::kSelectProfile);
    EXPECT_EQ(sink.shown[0].second, MessageIcon::Question);
    EXPECT_EQ(requested, 0);

    logic.browseStarted();
    logic.browseFinished("/data/mail.txt");
    EXPECT_TRUE(logic.okEnabled());
    EXPECT_FALSE(logic.accept({})); // not a .pst: the dialog stays, silently
    EXPECT_EQ(sink.shown.size(), 1u);

    logic.browseFinished("/data/bad.PST");
    EXPECT_FALSE(logic.accept({}));
    EXPECT_EQ(sink.shown.back().first, texts::kInvalidPst);

    logic.browseFinished("/data/good.pst");
    EXPECT_TRUE(logic.accept({}));
    EXPECT_EQ(requested, 1);
    EXPECT_EQ(s.destinationPath, "/data/good.pst");
}

TEST(Append, ProtectedPstAsksUntilThePasswordFits) {
    JobState s;
    int requested = 0;
    FakeStore store;
    store.profiles = {{"Work", "/p/locked.pst"}, {"Home", "/p/home.pst"}};
    RecordingSink sink;
    AppendLogic logic(s, requested, store, sink);
    logic.open();
    EXPECT_TRUE(logic.profileMode());
    EXPECT_EQ(logic.selectedRow(), 0);
    EXPECT_TRUE(logic.okEnabled());

    std::vector<std::string> typed{"wrong", "secret"};
    std::size_t asked = 0;
    EXPECT_TRUE(logic.accept([&]() -> std::optional<std::string> { return typed[asked++]; }));
    EXPECT_EQ(asked, 2u);
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0].first, texts::kPasswordMismatch);
    EXPECT_EQ(s.pstPassword, "secret");
    EXPECT_EQ(s.destinationPath, "/p/locked.pst");

    // Closing the password dialog withdraws the request and keeps this dialog open.
    logic.open();
    EXPECT_FALSE(logic.accept([]() -> std::optional<std::string> { return std::nullopt; }));
    EXPECT_EQ(requested, 0);

    logic.selectRow(-1);
    EXPECT_FALSE(logic.accept({}));
    EXPECT_EQ(sink.shown.back().first, texts::kSelectProfile);
    EXPECT_EQ(sink.shown.back().second, MessageIcon::Information);
}

TEST(PasswordAndOffice365, EmptyFieldsAreRefused) {
    JobState s;
    RecordingSink sink;
    EXPECT_FALSE(acceptPstPassword(s, "", sink));
    EXPECT_TRUE(acceptPstPassword(s, "pw", sink));
    EXPECT_EQ(s.pstPassword, "pw");

    Office365Logic logic(s, sink);
    s.office365MailId = "old";
    logic.open();
    EXPECT_EQ(s.office365MailId, "");
    EXPECT_FALSE(logic.accept("", "pw"));
    EXPECT_FALSE(logic.accept("me@x.org", ""));
    EXPECT_TRUE(logic.accept("me@x.org", "pw"));
    ASSERT_EQ(sink.shown.size(), 3u);
    EXPECT_EQ(sink.shown[0].first, texts::kEnterPstPassword);
    EXPECT_EQ(sink.shown[1].first, texts::kEnterOffice365Id);
    EXPECT_EQ(sink.shown[2].first, texts::kEnterPassword);
}

TEST(SaveComplete, LinkOpensTheDestinationFolder) {
    JobState s;
    s.saveFormat = mailbox::SaveFormat::Pst;
    s.newPst = 0;
    s.destinationPath = "/data/pst/mail.pst";
    EXPECT_TRUE(saveCompleteLinkVisible(s));
    EXPECT_EQ(saveCompleteLinkTarget(s), "/data/pst");
    s.newPst = 1;
    s.destinationPath = "/out/Converted Data(x)";
    EXPECT_EQ(saveCompleteLinkTarget(s), "/out/Converted Data(x)");
    s.saveFormat = mailbox::SaveFormat::Office365;
    EXPECT_FALSE(saveCompleteLinkVisible(s));
}

struct ScriptedDialogs : SaveDialogs {
    explicit ScriptedDialogs(JobState& s) : s(s) {}
    void formatDialog() override {
        calls += "format ";
        s.saveFormat = format;
    }
    void newPstDialog(int& requested) override {
        calls += "pst ";
        requested = pstRequested;
    }
    int fileExportDialog() override {
        calls += "files ";
        return result;
    }
    int office365Dialog() override {
        calls += "o365 ";
        return result;
    }
    JobState& s;
    mailbox::SaveFormat format = mailbox::SaveFormat::None;
    int pstRequested = 0;
    int result = -1;
    std::string calls;
};

TEST(SaveCommand, RunsTheChainOfTheChosenFormat) {
    struct Case {
        bool rootChecked;
        mailbox::SaveFormat format;
        int pstRequested;
        int result;
        bool starts;
        const char* calls;
    };
    using F = mailbox::SaveFormat;
    const Case cases[] = {
        {false, F::Pst, 1, 1, false, ""},
        {true, F::None, 0, -1, false, "format "},
        {true, F::Pst, 0, -1, false, "format pst "},
        {true, F::Pst, 1, -1, true, "format pst "},
        {true, F::Eml, 0, -1, false, "format files "},
        {true, F::Pdf, 0, 1, true, "format files "},
        {true, F::Office365, 0, 1, true, "format o365 "},
    };
    for (const Case& c : cases) {
        JobState s;
        s.destinationPath = "old";
        ScriptedDialogs dialogs(s);
        dialogs.format = c.format;
        dialogs.pstRequested = c.pstRequested;
        dialogs.result = c.result;
        RecordingSink sink;
        EXPECT_EQ(runSaveCommand(s, c.rootChecked, dialogs, sink), c.starts) << c.calls;
        EXPECT_EQ(dialogs.calls, c.calls);
        EXPECT_EQ(s.destinationPath, "");
        EXPECT_EQ(sink.shown.size(), c.rootChecked ? 0u : 1u);
        if (!c.rootChecked) {
            EXPECT_EQ(sink.shown[0].first, texts::kNoMailboxSelected);
        }
    }
}

} // namespace
} // namespace parvelle::ui
