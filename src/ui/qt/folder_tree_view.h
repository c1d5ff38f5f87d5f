#pragma once
// The left pane: the archive, its accounts and folders, each with a check box. The view shows
// the engine's FolderTree; a click on a check box is reported, never toggled by the view itself.
#include <QTreeWidget>
#include <unordered_map>

#include "mailbox/folder_tree.h"

namespace parvelle::ui::qt {

class FolderTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit FolderTreeView(const mailbox::FolderTree& model, QWidget* parent = nullptr);

    // Adds the model's node under its parent's widget item.
    void nodeInserted(mailbox::TreeItem item);
    // Shows the model's check states again.
    void refreshChecks();
    void removeAll();
    void expandNode(mailbox::TreeItem item);
    void selectNode(mailbox::TreeItem item);

    QTreeWidgetItem* widgetItem(mailbox::TreeItem item) const;
    mailbox::TreeItem nodeOf(const QTreeWidgetItem* item) const;
    // The check-box rectangle of a node, in viewport coordinates.
    QRect checkRect(mailbox::TreeItem item) const;

signals:
    void checkClicked(mailbox::TreeItem item);
    void nodeSelected(mailbox::TreeItem item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool onCheckBox(const QPoint& viewportPos, mailbox::TreeItem* hit) const;

    const mailbox::FolderTree& model_;
    std::unordered_map<mailbox::TreeItem, QTreeWidgetItem*> items_;
};

} // namespace parvelle::ui::qt
