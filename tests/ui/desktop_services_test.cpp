#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"
#include "ui/desktop_services.h"
#include "ui/session.h"

namespace parvelle::ui {
namespace {

namespace fs = std::filesystem;

TEST(InstanceLock, OnlyOneHolderAtATime) {
    parvelle::testing::TempDir dir;
    const std::string path = (dir / "parvelle.lock").string();
    {
        InstanceLock first(path);
        EXPECT_TRUE(first.acquired());
        InstanceLock second(path);
        EXPECT_FALSE(second.acquired());
    }
    InstanceLock again(path);
    EXPECT_TRUE(again.acquired());
}

TEST(PrivateFolder, IsRemovedWithItsContents) {
    std::string path;
    {
        PrivateFolder folder;
        ASSERT_TRUE(folder.valid());
        path = folder.path();
        EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_all);
        fs::create_directories(fs::path(path) / "Attachments");
        std::ofstream(fs::path(path) / "Attachments" / "a.pdf") << "x";
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(ReadOnlySettings, FilesOverrideDefaults) {
    parvelle::testing::TempDir dir;
    std::ofstream(dir / "a.conf") << "# comment\n[Parvelle]\nVSS = https://a.example/support\r\n"
                                     "KB=\nbroken line\n";
    std::ofstream(dir / "b.conf") << "KB = https://b.example/kb\n";
    ReadOnlySettings settings({{"Path", "/opt/parvelle"}, {"SupTick", ""}});
    settings.loadFile((dir / "a.conf").string());
    settings.loadFile((dir / "b.conf").string());
    settings.loadFile((dir / "missing.conf").string());
    EXPECT_EQ(settings.value("VSS"), "https://a.example/support");
    EXPECT_EQ(settings.value("KB"), "https://b.example/kb");
    EXPECT_EQ(settings.value("Path"), "/opt/parvelle");
    EXPECT_EQ(settings.value("SupTick"), "");
    EXPECT_EQ(settings.value("nothing"), "");
}

TEST(Session, ResetForgetsTheArchiveButKeepsTheLog) {
    parvelle::testing::TempDir dir;
    mailbox::JobState s;
    s.attachmentsFolder = (dir / "Attachments").string();
    fs::create_directories(s.attachmentsFolder);
    std::ofstream(fs::path(s.attachmentsFolder) / "a.pdf") << "x";
    const std::string preview = (dir / "preview").string();
    fs::create_directories(preview);
    std::ofstream(fs::path(preview) / "p.html") << "x";
    s.rootItem = s.folderTree.insert(0, "a.olm", mailbox::kIconArchiveRoot);
    s.destinationPath = "/out";
    s.stopRequested = 1;
    s.log.AppendLogRow("Message", "m", "Converted");
    s.saveEnabled = 1;
    s.logAvailable = 1;

    resetSession(s, preview);
    EXPECT_EQ(s.folderTree.size(), 0u);
    EXPECT_EQ(s.rootItem, 0u);
    EXPECT_EQ(s.stopRequested.load(), 0);
    EXPECT_EQ(s.destinationPath, "");
    EXPECT_FALSE(fs::exists(s.attachmentsFolder));
    EXPECT_FALSE(fs::exists(preview));
    EXPECT_EQ(s.log.size(), 1u);
    EXPECT_TRUE(commandEnabled(Command::LogReport, s));
    s.saveEnabled = 0;
    EXPECT_FALSE(commandEnabled(Command::SaveMailbox, s));
    EXPECT_TRUE(commandEnabled(Command::SelectMailbox, s));
}

} // namespace
} // namespace parvelle::ui
