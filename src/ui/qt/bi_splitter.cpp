#include "ui/qt/bi_splitter.h"

#include <QMouseEvent>
#include <QPainter>

namespace parvelle::ui::qt {

BiSplitter::BiSplitter(QWidget* parent) : QWidget(parent) {
    setObjectName("rightSplitter");
    // The set-up order of the right-hand frame: the divider is placed before the splitter has
    // a size, and the frame is first laid out 100 pixels high, so the divider starts halfway.
    layout_.setDividerPosition(150, 0, 0);
    layout_.setBarWidth(5);
    layout_.setDividerPosition(50, 0, 0);
    layout_.relayout(100, 100);
    setMouseTracking(true);
    trackerWidget_ = new QWidget(this);
    trackerWidget_->setStyleSheet("background: rgba(0, 0, 0, 110);");
    trackerWidget_->hide();
}

void BiSplitter::setPaneWidget(int index, QWidget* widget) {
    panes_[index & 1] = widget;
    widget->setParent(this);
    place();
}

void BiSplitter::setDividerPosition(int position) {
    layout_.setDividerPosition(position, width(), height());
    place();
}

void BiSplitter::showPane(int index, bool visible) {
    layout_.setPaneVisible(index, visible, width(), height());
    place();
}

void BiSplitter::resizeEvent(QResizeEvent*) {
    relayout();
}

void BiSplitter::changeEvent(QEvent* event) {
    // A palette or style change repaints the bar in the new colours; no position changes.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        update();
    QWidget::changeEvent(event);
}

void BiSplitter::relayout() {
    if (width() <= 0 || height() <= 0)
        return;
    layout_.relayout(width(), height());
    place();
}

void BiSplitter::place() {
    for (int i = 0; i < 2; ++i) {
        if (panes_[i] == nullptr)
            continue;
        const PaneRect& r = layout_.pane(i);
        panes_[i]->setGeometry(r.x, r.y, r.width, r.height);
        panes_[i]->setVisible(layout_.paneVisible(i));
    }
    update();
}

QRect BiSplitter::barRect() const {
    const PaneRect& b = layout_.bar();
    return {b.x, b.y, b.width, b.height};
}

void BiSplitter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(barRect(), palette().color(QPalette::Button));
}

void BiSplitter::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !layout_.paneVisible(0) || !layout_.paneVisible(1) ||
        !barRect().contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging_ = true;
    tracker_ = layout_.position();
    trackerWidget_->setGeometry(barRect());
    trackerWidget_->show();
    trackerWidget_->raise();
}

void BiSplitter::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (!dragging_) {
        setCursor(barRect().contains(p) ? (layout_.stacked() ? Qt::SplitVCursor : Qt::SplitHCursor)
                                        : Qt::ArrowCursor);
        return;
    }
    const int along = layout_.stacked() ? p.y() : p.x();
    tracker_ = layout_.dragPosition(along, tracker_, rect().contains(p));
    QRect r = barRect();
    if (layout_.stacked())
        r.moveTop(tracker_);
    else
        r.moveLeft(tracker_);
    trackerWidget_->setGeometry(r);
}

void BiSplitter::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    trackerWidget_->hide();
    setDividerPosition(tracker_);
}

} // namespace parvelle::ui::qt
