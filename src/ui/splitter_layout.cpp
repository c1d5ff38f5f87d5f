#include "ui/splitter_layout.h"

namespace parvelle::ui {

void SplitterLayout::relayout(int clientWidth, int clientHeight) {
    if (!visible_[0] && !visible_[1]) {
        bar_ = {};
        return;
    }
    if (visible_[0] != visible_[1]) {
        const int shown = visible_[0] ? 0 : 1;
        pane_[shown] = {0, 0, clientWidth, clientHeight};
        bar_ = {};
        return;
    }
    if (clientWidth <= 0 || clientHeight <= 0)
        return;
    const int extent = extentOf(clientWidth, clientHeight);
    if (referenceExtent_ == 0) {
        referenceExtent_ = extent;
        if (!stacked())
            reference_ = position_;
    }
    switch (style_ & kResizeMask) {
    case kKeepSecond:
        position_ = reference_ + extent - referenceExtent_;
        reference_ = position_;
        referenceExtent_ = extent;
        break;
    case kProportional: {
        const std::int64_t product = static_cast<std::int64_t>(reference_) * extent;
        const std::int64_t half = referenceExtent_ / 2;
        position_ = static_cast<int>(product >= 0 ? (product + half) / referenceExtent_
                                                  : (product - half) / referenceExtent_);
        break;
    }
    default:
        break;
    }
    if (position_ < 2 * border_[0])
        position_ = 2 * border_[0];
    if (position_ > extent - (2 * border_[1] + barWidth_))
        position_ = extent - (2 * border_[1] + barWidth_);

    if (stacked()) {
        pane_[0] = {0, 0, clientWidth, position_};
        bar_ = {0, position_, clientWidth, barWidth_};
        pane_[1] = {0, position_ + barWidth_, clientWidth, clientHeight - position_ - barWidth_};
    } else {
        pane_[0] = {0, 0, position_, clientHeight};
        bar_ = {position_, 0, barWidth_, clientHeight};
        pane_[1] = {position_ + barWidth_, 0, clientWidth - position_ - barWidth_, clientHeight};
    }
}

void SplitterLayout::setDividerPosition(int position, int clientWidth, int clientHeight) {
    position_ = reference_ = position;
    referenceExtent_ = extentOf(clientWidth, clientHeight);
    relayout(clientWidth, clientHeight);
}

void SplitterLayout::modifyStyle(std::uint32_t remove, std::uint32_t add, int clientWidth,
                                 int clientHeight) {
    style_ = (style_ & ~remove) | add;
    relayout(clientWidth, clientHeight);
}

void SplitterLayout::setPaneVisible(int index, bool visible, int clientWidth, int clientHeight) {
    visible_[index & 1] = visible;
    relayout(clientWidth, clientHeight);
}

int SplitterLayout::dragPosition(int pointer, int current, bool pointerInsideClient) const {
    const int low = stacked() ? pane_[0].y : pane_[0].x;
    const int high =
        (stacked() ? pane_[1].y + pane_[1].height : pane_[1].x + pane_[1].width) - barWidth_;
    if (!pointerInsideClient && pointer >= low && pointer <= high)
        return current;
    if (pointer < low)
        return low;
    if (pointer > high)
        return high;
    return pointer;
}

} // namespace parvelle::ui
