#include <gtest/gtest.h>

#include "ui/splitter_layout.h"

namespace parvelle::ui {
namespace {

// The right-hand frame's set-up: divider placed before the splitter has a size, then a first
// layout at the frame's creation size of 100 x 100.
SplitterLayout rightFrame() {
    SplitterLayout s;
    s.setDividerPosition(150, 0, 0);
    s.setBarWidth(5);
    s.setDividerPosition(50, 0, 0);
    s.relayout(100, 100);
    return s;
}

TEST(SplitterLayout, DividerStaysProportional) {
    SplitterLayout s = rightFrame();
    s.relayout(800, 600);
    EXPECT_EQ(s.pane(0), (PaneRect{0, 0, 800, 300}));
    EXPECT_EQ(s.bar(), (PaneRect{0, 300, 800, 5}));
    EXPECT_EQ(s.pane(1), (PaneRect{0, 305, 800, 295}));

    s.setDividerPosition(150, 800, 600); // the first preview
    EXPECT_EQ(s.pane(0).height, 150);
    s.relayout(800, 1200);
    EXPECT_EQ(s.pane(0).height, 300);
    s.relayout(800, 602);
    EXPECT_EQ(s.position(), 151); // 150 * 602 / 600 = 150.5, rounded to the nearest
}

TEST(SplitterLayout, ClampsAndDrags) {
    SplitterLayout s = rightFrame();
    s.relayout(400, 600);
    EXPECT_EQ(s.dragPosition(-40, 300, true), 0);
    EXPECT_EQ(s.dragPosition(5000, 300, true), 595);
    EXPECT_EQ(s.dragPosition(120, 300, false), 300); // outside the window, within the bounds
    EXPECT_EQ(s.dragPosition(120, 300, true), 120);
    s.setDividerPosition(s.dragPosition(-40, 300, true), 400, 600);
    EXPECT_EQ(s.pane(0).height, 0);
    s.setDividerPosition(5000, 400, 600);
    EXPECT_EQ(s.position(), 595);
    // Too small for both: the upper bound wins over the lower one.
    s.setBorderWidth(0, 3);
    s.setDividerPosition(1, 400, 4);
    EXPECT_EQ(s.position(), -1);
}

TEST(SplitterLayout, ResizeModesAndHiddenPanes) {
    SplitterLayout keepSecond(SplitterLayout::kStacked | SplitterLayout::kKeepSecond);
    keepSecond.setDividerPosition(100, 300, 300);
    keepSecond.relayout(300, 400);
    EXPECT_EQ(keepSecond.position(), 200);
    SplitterLayout keepFirst(SplitterLayout::kSideBySide);
    keepFirst.setDividerPosition(100, 300, 300);
    keepFirst.relayout(600, 300);
    EXPECT_EQ(keepFirst.pane(1), (PaneRect{103, 0, 497, 300}));
    keepFirst.setPaneVisible(0, false, 600, 300);
    EXPECT_EQ(keepFirst.pane(1), (PaneRect{0, 0, 600, 300}));
    EXPECT_EQ(keepFirst.bar(), PaneRect{});
}

} // namespace
} // namespace parvelle::ui
