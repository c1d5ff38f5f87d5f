#pragma once
// The splitter between the item list (top) and the reading pane (bottom): a draggable bar whose
// position stays proportional to the height as the window is resized.
#include <QWidget>

#include "ui/splitter_layout.h"

namespace parvelle::ui::qt {

class BiSplitter : public QWidget {
    Q_OBJECT
public:
    explicit BiSplitter(QWidget* parent = nullptr);
    void setPaneWidget(int index, QWidget* widget);
    void setDividerPosition(int position);
    void showPane(int index, bool visible);
    const SplitterLayout& layoutRule() const { return layout_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void relayout();
    void place();
    QRect barRect() const;

    SplitterLayout layout_;
    QWidget* panes_[2] = {nullptr, nullptr};
    bool dragging_ = false;
    int tracker_ = 0;
    QWidget* trackerWidget_ = nullptr;
};

} // namespace parvelle::ui::qt
