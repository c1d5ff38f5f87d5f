#pragma once
// The item list: one row per item of the selected folder, striped, sortable by any column
// through one shared direction flag. A listing adds rows one at a time; they reach the view in
// batches (every few milliseconds), because each insertion into the view costs a layout of all
// its rows and one per row would grow quadratically with the folder's size.
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <vector>

#include "mailbox/records.h"
#include "ui/item_sort.h"

namespace parvelle::ui::qt {

class ItemListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit ItemListView(QWidget* parent = nullptr);

    // Adds a row for a listed record (the row keeps its own copy). Row 0 is selected without
    // becoming current, so adding rows starts no preview. The row is shown with the next batch.
    void addRow(const mailbox::RecoveredOlmHeaderData& record);
    // Shows the rows added since the last batch at once, the last one scrolled into view.
    void flushRows();
    void removeAll();
    // Row 0 becomes selected and current, which starts its preview.
    void selectFirstRow();
    void sortByColumn(int column);

    // Rows shown (rows added but still waiting for their batch are not counted).
    int rowCount() const { return topLevelItemCount(); }
    // The record shown in a row (by visual position); null for an invalid row.
    const mailbox::RecoveredOlmHeaderData* recordAt(int row) const;
    const ItemListSorter& sorter() const { return sorter_; }

    static QColor evenRowColour() { return QColor(247, 247, 254); }
    static QColor oddRowColour() { return Qt::white; }

signals:
    // The current row changed to a selected row: preview it.
    void previewRequested(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<mailbox::RecoveredOlmHeaderData> records_;
    std::vector<std::unique_ptr<QTreeWidgetItem>> pending_;
    QTimer flushTimer_;
    QElapsedTimer sinceFlush_;
    ItemListSorter sorter_;
};

} // namespace parvelle::ui::qt
