#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "mailbox/conversion_log.h"
#include "temp_dir.h"

namespace parvelle::mailbox {
namespace {

TEST(ConversionLog, SavesRowsAsUtf8LinesEndingInCrLf) {
    ConversionLog log;
    log.AppendLogRow("Conversion Start Time:", "Mon Jan  1 10:00:00 2024", "");
    log.AppendLogRow("Message", "Grüße", "Converted");
    EXPECT_EQ(log.toText(), "Parvelle\r\n\r\n"
                            "Conversion Start Time:\r\nMon Jan  1 10:00:00 2024\r\n"
                            "Message\r\nGr\xc3\xbc\xc3\x9f"
                            "e\r\nConverted\r\n");
    parvelle::testing::TempDir dir;
    const auto path = (dir / "log.txt").string();
    ASSERT_TRUE(log.saveTo(path));
    std::ifstream in(path, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(saved, log.toText());
    EXPECT_FALSE(log.saveTo((dir / "missing-folder" / "log.txt").string()));
    log.clear();
    EXPECT_EQ(log.toText(), "Parvelle\r\n\r\n");
}

TEST(ConversionLog, SaveNameGetsTxtUnlessItAlreadyEndsSo) {
    EXPECT_EQ(logFileNameFor("/tmp/report"), "/tmp/report.txt");
    EXPECT_EQ(logFileNameFor("/tmp/report.TXT"), "/tmp/report.TXT");
    EXPECT_EQ(logFileNameFor("/tmp/report.Txt"), "/tmp/report.Txt");
    EXPECT_EQ(logFileNameFor("/tmp/report.log"), "/tmp/report.log.txt");
}

} // namespace
} // namespace parvelle::mailbox
