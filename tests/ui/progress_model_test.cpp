#include <gtest/gtest.h>

#include "ui/progress_model.h"
#include "ui/texts.h"

namespace parvelle::ui {
namespace {

using mailbox::ProgressMode;

TEST(ProgressModel, FormsOfTheDialog) {
    ProgressModel m;
    m.open(ProgressModel::Form::Normal);
    EXPECT_TRUE(m.stopVisible());
    EXPECT_TRUE(m.bar().visible);
    EXPECT_EQ(m.bar().maximum, 500);
    m.open(ProgressModel::Form::StopHidden);
    EXPECT_FALSE(m.stopVisible());
    m.open(ProgressModel::Form::Preview);
    EXPECT_FALSE(m.stopVisible());
    EXPECT_FALSE(m.bar().visible);
    EXPECT_EQ(m.line(0), texts::kLoadingItem);
}

TEST(ProgressModel, ScanCyclesEveryFiveHundredMessages) {
    mailbox::JobState s;
    s.progressMode = ProgressMode::Scanning;
    ProgressModel m;
    m.open(ProgressModel::Form::Normal);
    m.onProgress(s);
    EXPECT_EQ(m.line(0), texts::kScanningMailboxes);
    for (int i = 1; i < 500; ++i)
        m.onProgress(s);
    EXPECT_EQ(m.bar().value, 500);
    m.onProgress(s);
    EXPECT_EQ(m.bar().value, 0);
    m.onProgress(s);
    EXPECT_EQ(m.bar().value, 1);

    s.currentFolderName = "Inbox";
    s.summarySubject = "Hello";
    m.onProgress(s);
    EXPECT_EQ(m.line(1), "Processing Folder:  Inbox");
    EXPECT_EQ(m.line(2), "Mail Subject:  Hello");
}

TEST(ProgressModel, CountedModes) {
    mailbox::JobState s;
    s.itemCount = 3;
    ProgressModel m;
    m.open(ProgressModel::Form::StopHidden);
    m.onListFolder(s);
    EXPECT_EQ(m.line(0), texts::kLoadingItems);
    EXPECT_EQ(m.bar().maximum, 3);
    s.progressMode = ProgressMode::Listing;
    m.onProgress(s);
    m.onProgress(s);
    EXPECT_EQ(m.bar().value, 3);
    m.onProgress(s); // counter reached the total: back to the start position
    EXPECT_EQ(m.counter(), 0);
    EXPECT_EQ(m.bar().value, 3); // position 100, held at the maximum

    s.progressMode = ProgressMode::Saving;
    s.currentMailboxName = "acct";
    s.currentFolderName = "Inbox";
    s.summarySubject = "S";
    m.onProgress(s);
    EXPECT_EQ(m.line(0), "Mailbox Name:  acct");
    EXPECT_EQ(m.line(1), "Processing Folder:  Inbox");
    EXPECT_EQ(m.line(2), "Mail Subject:  S");
}

} // namespace
} // namespace parvelle::ui
