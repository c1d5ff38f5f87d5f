#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"
#include "ui/find_dialog_logic.h"
#include "ui/olm_search.h"

namespace parvelle::ui {
namespace {

namespace fs = std::filesystem;

TEST(SizeText, CutsTwoDigitsAfterThePoint) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "0(Bytes)"},          {1023, "1023(Bytes)"},       {1024, "1.00 (KB)"},
        {1536, "1.50 (KB)"},      {1000000, "976.56 (KB)"},    {1048575, "1023.99 (KB)"},
        {1048576, "1.00(MB)"},    {1073741823, "1023.99(MB)"}, {1073741824, "1.00(GB)"},
        {5368709120, "5.00(GB)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sizeText(c.bytes), c.text) << c.bytes;
}

class OlmSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* f : {"a.olm", "B.OLM", "notes.txt", "sub/c.Olm", "sub/deeper/d.olm",
                              ".hidden/e.olm", "x.OLM/f.olm", ".g.olm"}) {
            const fs::path p = dir / f;
            fs::create_directories(p.parent_path());
            std::ofstream(p) << "PK";
        }
    }
    std::vector<std::string> run(bool subfolders, std::atomic<int>& stop) {
        std::vector<std::string> found;
        OlmSearch search(stop);
        search.run(dir.path().string(), subfolders, [&](const FoundFile& f) {
            found.push_back(fs::relative(f.path, dir.path()).string());
            EXPECT_EQ(f.size, "2(Bytes)");
            EXPECT_FALSE(f.modified.empty());
        });
        return found;
    }
    parvelle::testing::TempDir dir;
};

TEST_F(OlmSearchTest, FindsArchivesInAnyCaseAndWalksSubfoldersWhenAsked) {
    std::atomic<int> stop{0};
    EXPECT_EQ(run(true, stop), (std::vector<std::string>{"B.OLM", "a.olm", "sub/c.Olm",
                                                         "sub/deeper/d.olm", "x.OLM/f.olm"}));
    EXPECT_EQ(run(false, stop), (std::vector<std::string>{"B.OLM", "a.olm"}));
    stop = 1;
    EXPECT_TRUE(run(true, stop).empty());
}

TEST(FindDialogLogic, EnableRulesAroundASearch) {
    FindDialogLogic logic;
    logic.open();
    EXPECT_FALSE(logic.controls().ok);
    EXPECT_FALSE(logic.controls().clearList);
    EXPECT_FALSE(logic.findPressed(false));
    ASSERT_TRUE(logic.findPressed(true));
    logic.searchStarted();
    EXPECT_FALSE(logic.controls().find);
    EXPECT_TRUE(logic.controls().stop);
    EXPECT_FALSE(logic.controls().cancel);
    logic.rowSelected(true); // no OK while searching
    EXPECT_FALSE(logic.controls().ok);
    EXPECT_EQ(logic.searchEnded(false), "File not found");
    EXPECT_FALSE(logic.controls().ok);
    EXPECT_FALSE(logic.controls().clearList);

    ASSERT_TRUE(logic.findPressed(true));
    logic.searchStarted();
    logic.fileFound();
    logic.fileFound();
    EXPECT_EQ(logic.searchEnded(false), "Total 2 File(s) Found.");
    EXPECT_EQ(logic.statusText(), "Total 2 File(s) Found.");
    EXPECT_TRUE(logic.controls().clearList);
    logic.rowSelected(true);
    EXPECT_TRUE(logic.controls().ok);
    logic.clearList();
    EXPECT_FALSE(logic.controls().ok);
    EXPECT_EQ(logic.statusText(), "");

    std::vector<std::string> entries{"/home/u", "/media/Disk"};
    EXPECT_EQ(FindDialogLogic::addLookIn(entries, "/MEDIA/disk"), 1);
    EXPECT_EQ(FindDialogLogic::addLookIn(entries, "/srv"), 2);
    EXPECT_EQ(entries.size(), 3u);
}

TEST(SearchRoots, HomeFirstThenRealFileSystems) {
    parvelle::testing::TempDir dir;
    std::ofstream(dir / "mounts") << "proc /proc proc rw 0 0\n"
                                     "/dev/sda1 / ext4 rw 0 0\n"
                                     "tmpfs /run tmpfs rw 0 0\n"
                                     "/dev/sdb1 /media/My\\040Disk vfat rw 0 0\n"
                                     "/dev/sda1 / ext4 rw 0 0\n";
    EXPECT_EQ(searchRoots("/home/u", (dir / "mounts").string()),
              (std::vector<std::string>{"/home/u", "/", "/media/My Disk"}));
}

} // namespace
} // namespace parvelle::ui
