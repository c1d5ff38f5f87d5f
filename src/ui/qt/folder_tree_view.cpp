#include "ui/qt/folder_tree_view.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include "ui/qt/common.h"

namespace parvelle::ui::qt {
namespace {

constexpr int kNodeRole = Qt::UserRole + 1;

class RowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::max(20, size.height()));
        return size;
    }
};

} // namespace

FolderTreeView::FolderTreeView(const mailbox::FolderTree& model, QWidget* parent)
    : QTreeWidget(parent), model_(model) {
    setObjectName("folderTree");
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setItemDelegate(new RowHeightDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette p = palette();
    p.setColor(QPalette::Base, QColor(255, 255, 250));
    // The selection stays visible when the tree has no focus.
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (current != nullptr)
                    emit nodeSelected(nodeOf(current));
            });
}

QTreeWidgetItem* FolderTreeView::widgetItem(mailbox::TreeItem item) const {
    const auto it = items_.find(item);
    return it == items_.end() ? nullptr : it->second;
}

mailbox::TreeItem FolderTreeView::nodeOf(const QTreeWidgetItem* item) const {
    return item == nullptr ? 0 : item->data(0, kNodeRole).toUInt();
}

void FolderTreeView::nodeInserted(mailbox::TreeItem item) {
    const mailbox::TreeNode node = model_.node(item);
    auto* widget = new QTreeWidgetItem;
    widget->setText(0, toQ(node.text));
    widget->setIcon(0, folderIcon(node.icon));
    widget->setData(0, kNodeRole, item);
    // Selectable and enabled, but not user-checkable: the check rule is the model's.
    widget->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    widget->setCheckState(0, model_.isChecked(item) ? Qt::Checked : Qt::Unchecked);
    if (QTreeWidgetItem* parent = widgetItem(node.parent))
        parent->addChild(widget);
    else
        addTopLevelItem(widget);
    items_[item] = widget;
    for (QTreeWidgetItem* w = widget; w != nullptr; w = w->parent())
        w->setExpanded(true);
}

void FolderTreeView::refreshChecks() {
    for (const auto& [node, widget] : items_)
        widget->setCheckState(0, model_.isChecked(node) ? Qt::Checked : Qt::Unchecked);
}

void FolderTreeView::removeAll() {
    const QSignalBlocker blocker(this);
    clear();
    items_.clear();
}

void FolderTreeView::expandNode(mailbox::TreeItem item) {
    if (QTreeWidgetItem* w = widgetItem(item)) {
        w->setExpanded(false);
        w->setExpanded(true);
    }
}

void FolderTreeView::selectNode(mailbox::TreeItem item) {
    if (QTreeWidgetItem* w = widgetItem(item)) {
        scrollToItem(w);
        setCurrentItem(w);
    }
}

QRect FolderTreeView::checkRect(mailbox::TreeItem item) const {
    QTreeWidgetItem* w = widgetItem(item);
    if (w == nullptr)
        return {};
    const QModelIndex index = indexFromItem(w);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    option.checkState = w->checkState(0);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

bool FolderTreeView::onCheckBox(const QPoint& pos, mailbox::TreeItem* hit) const {
    QTreeWidgetItem* w = itemAt(pos);
    if (w == nullptr)
        return false;
    const mailbox::TreeItem node = nodeOf(w);
    if (!checkRect(node).contains(pos))
        return false;
    *hit = node;
    return true;
}

void FolderTreeView::mousePressEvent(QMouseEvent* event) {
    mailbox::TreeItem hit = 0;
    if (event->button() == Qt::LeftButton && onCheckBox(event->position().toPoint(), &hit)) {
        // A check-box click changes the check states only, never the selection.
        emit checkClicked(hit);
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void FolderTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    mailbox::TreeItem hit = 0;
    if (onCheckBox(event->position().toPoint(), &hit)) {
        emit checkClicked(hit);
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

} // namespace parvelle::ui::qt
