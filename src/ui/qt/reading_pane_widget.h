#pragma once
// The reading pane: the previewed item's header block and its page in an HTML view that never
// loads anything from the network and runs no scripts.
#include <QTextBrowser>
#include <QWidget>

#include "mailbox/job_state.h"
#include "ui/reading_pane.h"

class QLabel;
class QListWidget;
class QTextEdit;

namespace parvelle::ui::qt {

// An HTML view that displays only what it is given: every resource other than inline data is
// refused, links are not followed and there is no context menu.
class SafeTextBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit SafeTextBrowser(QWidget* parent = nullptr);
    QVariant loadResource(int type, const QUrl& name) override;
    // Resources asked for and refused since the view was created (for the tests).
    int refusedCount() const { return refused_; }

private:
    int refused_ = 0;
};

class ReadingPaneWidget : public QWidget {
    Q_OBJECT
public:
    ReadingPaneWidget(mailbox::JobState& state, QString previewFolder, QWidget* parent = nullptr);

    void clearPane();
    void showItem(const mailbox::RecoveredOlmHeaderData* record);

    const ReadingPaneView& view() const { return view_; }
    SafeTextBrowser* browser() const { return browser_; }
    QListWidget* attachmentList() const { return attachments_; }
    const QString& lastPageFile() const { return lastPage_; }
    // Opens the attachment of a row (a double-click does the same).
    void openAttachment(int row);

signals:
    void focusItemList();

private:
    void deleteLastPage();

    mailbox::JobState& state_;
    QString previewFolder_;
    ReadingPaneView view_;
    QString lastPage_;
    QLabel* subject_;
    QTextEdit* to_;
    QTextEdit* cc_;
    QLabel* from_;
    QLabel* attachmentLabel_;
    QListWidget* attachments_;
    SafeTextBrowser* browser_;
};

} // namespace parvelle::ui::qt
