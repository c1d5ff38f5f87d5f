#include <gtest/gtest.h>

#include <clocale>

#include "ui/item_sort.h"

namespace parvelle::ui {
namespace {

using mailbox::RecoveredOlmHeaderData;

RecoveredOlmHeaderData row(std::string from, std::string subject, std::string date = {},
                           int attachments = 0) {
    RecoveredOlmHeaderData r;
    r.from = std::move(from);
    r.subject = std::move(subject);
    r.date = std::move(date);
    r.hasAttachments = attachments;
    return r;
}

class ItemSort : public ::testing::Test {
protected:
    void click(ItemListSorter& sorter, int column) {
        std::vector<const RecoveredOlmHeaderData*> pointers;
        for (const auto& r : rows)
            pointers.push_back(&r);
        const auto order = sorter.sort(column, pointers);
        // The list keeps the new order for the next click.
        std::vector<RecoveredOlmHeaderData> sorted;
        for (std::size_t i : order)
            sorted.push_back(rows[i]);
        rows = sorted;
    }
    std::string order() const {
        std::string s;
        for (const auto& r : rows)
            s += r.subject;
        return s;
    }

    std::vector<RecoveredOlmHeaderData> rows{row("b", "C"), row("C", "a"), row("a", "B")};
};

TEST_F(ItemSort, OneDirectionFlagServesEveryColumn) {
    ItemListSorter sorter;
    click(sorter, kColumnSubject);
    EXPECT_EQ(order(), "aBC");
    click(sorter, kColumnSubject);
    EXPECT_EQ(order(), "CBa");
    click(sorter, kColumnFrom); // ascending again
    EXPECT_EQ(order(), "BCa");

    ItemListSorter other;
    click(other, kColumnSubject);
    click(other, kColumnFrom); // right after one click on Subject: descending
    EXPECT_EQ(order(), "aCB");
}

TEST_F(ItemSort, AttachmentColumnAndCaseFolding) {
    EXPECT_LT(compareItems(kColumnFrom, row("abc", ""), row("ABD", "")), 0);
    EXPECT_EQ(compareItems(kColumnFrom, row("Mail", ""), row("mAIL", "")), 0);
    EXPECT_GT(compareItems(kColumnAttachment, row("", "", "", 1), row("", "", "", 0)), 0);
}

TEST_F(ItemSort, UnparsableDatesKeepTheirRelativeOrder) {
    std::setlocale(LC_TIME, "C");
    rows = {row("", "x1", "junk"), row("", "d2", "02/03/20 10:00:00"),
            row("", "x2", ""),     row("", "d1", "01/03/20"),
            row("", "x3", "??"),   row("", "d3", "03/03/21 09:00:00")};
    ItemListSorter sorter;
    click(sorter, kColumnDate);
    EXPECT_EQ(order(), "x1d1x2d2x3d3");
    click(sorter, kColumnDate);
    EXPECT_EQ(order(), "x1d3x2d2x3d1");
}

TEST(ListDate, ParsesTheListFormats) {
    std::setlocale(LC_TIME, "C");
    EXPECT_TRUE(parseListDate("04/05/13 10:20:30"));
    EXPECT_TRUE(parseListDate("04/05/13"));
    EXPECT_FALSE(parseListDate("10:20:30"));
    EXPECT_FALSE(parseListDate(""));
    EXPECT_LT(*parseListDate("04/05/13"), *parseListDate("04/05/13 00:00:01"));
}

} // namespace
} // namespace parvelle::ui
