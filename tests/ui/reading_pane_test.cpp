#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "temp_dir.h"
#include "ui/reading_pane.h"

namespace parvelle::ui {
namespace {

TEST(ReadingPane, HeaderBlock) {
    mailbox::RecoveredOlmHeaderData r;
    EXPECT_EQ(readingPaneView(nullptr).subject, "");
    EXPECT_EQ(readingPaneView(&r).subject, "Unknown");
    r.subject = "Hi";
    r.attachmentNames = "a.pdf;;b.txt;";
    ReadingPaneView v = readingPaneView(&r);
    EXPECT_TRUE(v.attachmentsVisible);
    EXPECT_TRUE(v.attachmentRows.empty()); // rows only for items with attachments
    r.hasAttachments = 1;
    v = readingPaneView(&r);
    EXPECT_EQ(v.attachmentRows, (std::vector<std::string>{"a.pdf", "b.txt"}));
}

TEST(ReadingPane, AttachmentExtensions) {
    EXPECT_EQ(attachmentExtension("Report.Final.PDF"), ".pdf");
    EXPECT_EQ(attachmentExtension("README"), "");
    EXPECT_TRUE(splitAttachmentNames("").empty());
}

TEST(ReadingPane, PageFilesAreUtf8WithAMarkForMailBodies) {
    parvelle::testing::TempDir dir;
    const std::string folder = (dir / "preview").string();
    const std::string html = "<p>Gr\xC3\xBC\xC3\x9F"
                             "e</p>";
    const std::string first = writePreviewPage(folder, html, "0E0");
    const std::string second = writePreviewPage(folder, html, "");
    ASSERT_FALSE(first.empty());
    EXPECT_NE(first, second);
    auto read = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    EXPECT_EQ(read(first), "\xEF\xBB\xBF" + html);
    EXPECT_EQ(read(second), html);
    EXPECT_EQ(writePreviewPage("/proc/no/such", html, ""), "");
}

} // namespace
} // namespace parvelle::ui
