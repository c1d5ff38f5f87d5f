#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "temp_dir.h"
#include "ui/log_report.h"

namespace parvelle::ui {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(LogReport, RowsAndFileText) {
    mailbox::ConversionLog log;
    LogReportModel model;
    model.load(log);
    EXPECT_TRUE(model.rows().empty());
    EXPECT_FALSE(model.saveEnabled());

    log.AppendLogRow("Source File Location:", "/d/ä.olm", "");
    log.AppendLogRow("Message", "Hi", "Converted");
    model.load(log);
    ASSERT_EQ(model.rows().size(), 3u);
    EXPECT_EQ(model.rows()[0].itemType, "Parvelle");
    EXPECT_TRUE(model.saveEnabled());
    EXPECT_EQ(model.fileText(), "Parvelle\r\n\r\nSource File Location:\r\n/d/\xC3\xA4.olm\r\n"
                                "Message\r\nHi\r\nConverted\r\n");

    parvelle::testing::TempDir dir;
    struct Case {
        const char* chosen;
        const char* written;
    };
    const Case cases[] = {{"report", "report.txt"}, {"r2.TXT", "r2.TXT"}, {"r3.Txt", "r3.Txt"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(model.saveTo((dir / c.chosen).string()));
        EXPECT_EQ(read(dir / c.written), model.fileText()) << c.chosen;
    }
    EXPECT_FALSE(model.saveTo((dir / "missing" / "x").string()));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    model.clear(log);
    EXPECT_TRUE(model.rows().empty());
    EXPECT_EQ(log.size(), 0u);
    EXPECT_FALSE(model.clearEnabled());
}

} // namespace
} // namespace parvelle::ui
