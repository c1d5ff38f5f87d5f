#pragma once
// The layout rule of the two-pane splitter between the item list and the reading pane: where
// the divider bar sits as the window is resized and dragged, and the rectangles of both panes.
#include <cstdint>

namespace parvelle::ui {

struct PaneRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const PaneRect&) const = default;
};

class SplitterLayout {
public:
    enum Style : std::uint32_t {
        kSideBySide = 0x01,
        kStacked = 0x02,
        kResizeMask = 0x1c,
        kKeepSecond = 0x08,
        kProportional = 0x10,
        kBorders3d = 0x20,
    };
    // The right-hand frame's splitter: stacked, proportional, three-dimensional borders.
    static constexpr std::uint32_t kRightFrameStyle = 0x32;

    explicit SplitterLayout(std::uint32_t style = kRightFrameStyle) : style_(style) {}

    // Lays both panes out in a client area of the given size.
    void relayout(int clientWidth, int clientHeight);
    // Puts the divider at `position` and makes it the reference for proportional resizing.
    void setDividerPosition(int position, int clientWidth, int clientHeight);
    void modifyStyle(std::uint32_t remove, std::uint32_t add, int clientWidth, int clientHeight);

    // Pane visibility: hiding one pane gives the other the whole area.
    void setPaneVisible(int index, bool visible, int clientWidth, int clientHeight);
    bool paneVisible(int index) const { return visible_[index & 1]; }
    void setBorderWidth(int index, int width) { border_[index & 1] = width < 0 ? 0 : width & 3; }

    // The top (stacked) or left edge the dragged tracker may take for a pointer at `pointer`,
    // given the current layout: between 0 and the far edge of pane 1 less the bar width. A
    // pointer outside the client area leaves the tracker at `current`.
    int dragPosition(int pointer, int current, bool pointerInsideClient) const;

    int position() const { return position_; }
    int reference() const { return reference_; }
    int referenceExtent() const { return referenceExtent_; }
    int barWidth() const { return barWidth_; }
    void setBarWidth(int width) { barWidth_ = width; }
    std::uint32_t style() const { return style_; }
    bool stacked() const { return (style_ & kSideBySide) == 0; }

    const PaneRect& pane(int index) const { return pane_[index & 1]; }
    const PaneRect& bar() const { return bar_; }

private:
    int extentOf(int clientWidth, int clientHeight) const {
        return stacked() ? clientHeight : clientWidth;
    }

    std::uint32_t style_;
    int position_ = 0;
    int reference_ = 0;
    int referenceExtent_ = 0;
    int barWidth_ = 3;
    int border_[2] = {0, 0};
    bool visible_[2] = {true, true};
    PaneRect pane_[2];
    PaneRect bar_;
};

} // namespace parvelle::ui
