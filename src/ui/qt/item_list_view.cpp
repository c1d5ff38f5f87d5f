#include "ui/qt/item_list_view.h"

#include <QHeaderView>
#include <QPainter>
#include <QResizeEvent>

#include "ui/qt/common.h"

namespace parvelle::ui::qt {
namespace {

constexpr int kRecordRole = Qt::UserRole + 1;
// Rows wait at most this long for their batch, so the first rows appear at once.
constexpr int kBatchMilliseconds = 30;

} // namespace

ItemListView::ItemListView(QWidget* parent) : QTreeWidget(parent) {
    setObjectName("itemList");
    setColumnCount(5);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAlternatingRowColors(true);
    setSortingEnabled(false);
    QPalette p = palette();
    p.setColor(QPalette::Base, evenRowColour());
    p.setColor(QPalette::AlternateBase, oddRowColour());
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);

    auto* headerItem = new QTreeWidgetItem;
    headerItem->setIcon(0, svgIcon("clip"));
    headerItem->setText(1, tr("From"));
    headerItem->setText(2, tr("To"));
    headerItem->setText(3, tr("Subject"));
    headerItem->setText(4, tr("Date"));
    setHeaderItem(headerItem);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(true);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(16);
    setColumnWidth(0, 25);
    for (int c = 1; c < 5; ++c)
        setColumnWidth(c, 200);
    connect(header(), &QHeaderView::sectionClicked, this, &ItemListView::sortByColumn);
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kBatchMilliseconds);
    connect(&flushTimer_, &QTimer::timeout, this, &ItemListView::flushRows);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (current.isValid() && selectionModel()->isSelected(current))
                    emit previewRequested(current.row());
            });
}

void ItemListView::addRow(const mailbox::RecoveredOlmHeaderData& record) {
    records_.push_back(record);
    auto row = std::make_unique<QTreeWidgetItem>();
    row->setData(0, kRecordRole, static_cast<qulonglong>(records_.size() - 1));
    if (record.hasAttachments == 1)
        row->setIcon(0, svgIcon("clip"));
    const std::string* texts[] = {&record.from, &record.to, &record.subject, &record.date};
    for (int c = 0; c < 4; ++c)
        if (!texts[c]->empty())
            row->setText(c + 1, toQ(*texts[c]));
    pending_.push_back(std::move(row));
    if (pending_.size() == 1) {
        // The timer shows a batch that stops growing; a steady stream is flushed by age.
        flushTimer_.start();
        if (!sinceFlush_.isValid())
            sinceFlush_.start();
    }
    if (sinceFlush_.elapsed() >= kBatchMilliseconds)
        flushRows();
}

void ItemListView::flushRows() {
    flushTimer_.stop();
    sinceFlush_.start();
    if (pending_.empty())
        return;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(pending_.size()));
    for (auto& row : pending_)
        rows.push_back(row.release());
    pending_.clear();
    addTopLevelItems(rows);
    scrollToItem(rows.back());
    if (QTreeWidgetItem* first = topLevelItem(0)) {
        const QSignalBlocker blocker(selectionModel());
        first->setSelected(true);
    }
}

void ItemListView::removeAll() {
    flushTimer_.stop();
    pending_.clear();
    const QSignalBlocker blocker(selectionModel());
    clear();
    records_.clear();
}

void ItemListView::selectFirstRow() {
    flushRows();
    QTreeWidgetItem* first = topLevelItem(0);
    if (first == nullptr)
        return;
    scrollToItem(first);
    // Make the row current afresh so that the change starts its preview.
    {
        const QSignalBlocker blocker(selectionModel());
        selectionModel()->clearCurrentIndex();
    }
    selectionModel()->setCurrentIndex(indexFromItem(first), QItemSelectionModel::ClearAndSelect |
                                                                QItemSelectionModel::Rows);
}

const mailbox::RecoveredOlmHeaderData* ItemListView::recordAt(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr)
        return nullptr;
    const auto index = item->data(0, kRecordRole).toULongLong();
    return index < records_.size() ? &records_[index] : nullptr;
}

void ItemListView::sortByColumn(int column) {
    if (column >= kColumnFrom && column <= kColumnDate) {
        header()->setSortIndicatorShown(true);
        header()->setSortIndicator(column, sorter_.nextAscending() ? Qt::AscendingOrder
                                                                   : Qt::DescendingOrder);
    }
    flushRows();
    std::vector<const mailbox::RecoveredOlmHeaderData*> rows;
    for (int i = 0; i < topLevelItemCount(); ++i)
        rows.push_back(recordAt(i));
    const std::vector<std::size_t> order = sorter_.sort(column, rows);
    QTreeWidgetItem* current = currentItem();
    const QList<QTreeWidgetItem*> selected = selectedItems();
    const QSignalBlocker blocker(selectionModel());
    // All rows leave and come back in one step each: row by row would be quadratic.
    const QList<QTreeWidgetItem*> items = invisibleRootItem()->takeChildren();
    QList<QTreeWidgetItem*> sorted;
    sorted.reserve(items.size());
    for (const std::size_t i : order)
        sorted.push_back(items[static_cast<qsizetype>(i)]);
    addTopLevelItems(sorted);
    if (current != nullptr)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* s : selected)
        s->setSelected(true);
}

void ItemListView::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    const int sixth = event->size().width() / 6;
    for (int c = 1; c < 5; ++c)
        setColumnWidth(c, sixth);
}

void ItemListView::paintEvent(QPaintEvent* event) {
    // The stripes go on below the last row.
    QPainter painter(viewport());
    const int measured = topLevelItemCount() > 0 ? rowHeight(indexFromItem(topLevelItem(0))) : 0;
    const int rowHeight = measured > 0 ? measured : fontMetrics().height() + 6;
    const int rows = topLevelItemCount();
    int top = rows > 0 ? visualItemRect(topLevelItem(rows - 1)).bottom() + 1 : 0;
    for (int r = rows; top < viewport()->height(); ++r, top += rowHeight)
        painter.fillRect(0, top, viewport()->width(), rowHeight,
                         r % 2 == 0 ? evenRowColour() : oddRowColour());
    painter.end();
    QTreeWidget::paintEvent(event);
}

} // namespace parvelle::ui::qt
