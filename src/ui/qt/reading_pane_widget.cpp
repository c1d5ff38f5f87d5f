#include "ui/qt/reading_pane_widget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMimeDatabase>
#include <QTextEdit>
#include <QVBoxLayout>

#include "ui/qt/common.h"
#include "ui/qt/desktop_hooks.h"

namespace parvelle::ui::qt {

SafeTextBrowser::SafeTextBrowser(QWidget* parent) : QTextBrowser(parent) {
    setObjectName("previewBrowser");
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    setUndoRedoEnabled(false);
}

QVariant SafeTextBrowser::loadResource(int type, const QUrl& name) {
    if (name.scheme() == QLatin1String("data"))
        return QTextBrowser::loadResource(type, name);
    ++refused_;
    return {};
}

namespace {

QIcon attachmentIcon(const QString& name) {
    static const QIcon fallback = svgIcon("file");
    const QString extension = toQ(attachmentExtension(fromQ(name)));
    if (extension.isEmpty())
        return fallback;
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    if (!mime.isValid() || mime.isDefault())
        return fallback;
    const QIcon themed =
        QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    return themed.isNull() ? fallback : themed;
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QTextEdit* recipientsField(QWidget* parent, const char* name) {
    auto* edit = new QTextEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setFrameShape(QFrame::NoFrame);
    edit->setAcceptRichText(false);
    edit->document()->setDocumentMargin(0);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    edit->setFixedHeight(edit->fontMetrics().lineSpacing() * 2 + 8);
    edit->setContextMenuPolicy(Qt::NoContextMenu);
    return edit;
}

} // namespace

ReadingPaneWidget::ReadingPaneWidget(mailbox::JobState& state, QString previewFolder,
                                     QWidget* parent)
    : QWidget(parent), state_(state), previewFolder_(std::move(previewFolder)) {
    setObjectName("readingPane");
    makeWhite(this);
    auto* header = new QWidget(this);
    header->setObjectName("paneHeader");
    header->setFixedHeight(160);
    auto* grid = new QGridLayout(header);
    grid->setContentsMargins(8, 6, 8, 4);
    grid->setVerticalSpacing(2);
    subject_ = new QLabel(header);
    subject_->setObjectName("subject");
    QFont subjectFont = subject_->font();
    subjectFont.setBold(true);
    subjectFont.setPointSizeF(subjectFont.pointSizeF() + 1);
    subject_->setFont(subjectFont);
    subject_->setTextFormat(Qt::PlainText);
    to_ = recipientsField(header, "to");
    cc_ = recipientsField(header, "cc");
    from_ = new QLabel(header);
    from_->setObjectName("from");
    from_->setTextFormat(Qt::PlainText);
    attachmentLabel_ = caption(tr("Attachment:"), header);
    attachments_ = new QListWidget(header);
    attachments_->setObjectName("attachments");
    attachments_->setViewMode(QListView::ListMode);
    attachments_->setFlow(QListView::LeftToRight);
    attachments_->setWrapping(true);
    attachments_->setIconSize(QSize(16, 16));
    attachments_->setFrameShape(QFrame::NoFrame);
    attachments_->setFixedHeight(26);
    attachments_->setSpacing(2);
    grid->addWidget(caption(tr("Subject:"), header), 0, 0);
    grid->addWidget(subject_, 0, 1);
    grid->addWidget(caption(tr("To:"), header), 1, 0);
    grid->addWidget(to_, 1, 1);
    grid->addWidget(caption(tr("Cc:"), header), 2, 0);
    grid->addWidget(cc_, 2, 1);
    grid->addWidget(caption(tr("From:"), header), 3, 0);
    grid->addWidget(from_, 3, 1);
    grid->addWidget(attachmentLabel_, 4, 0);
    grid->addWidget(attachments_, 4, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);

    browser_ = new SafeTextBrowser(this);
    browser_->setFrameShape(QFrame::NoFrame);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setStyleSheet("color: #d0d4da;");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(separator);
    layout->addWidget(browser_, 1);

    connect(attachments_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { openAttachment(attachments_->row(item)); });
    clearPane();
}

void ReadingPaneWidget::deleteLastPage() {
    if (!lastPage_.isEmpty())
        QFile::remove(lastPage_);
    lastPage_.clear();
}

void ReadingPaneWidget::clearPane() {
    view_ = ReadingPaneView{};
    subject_->clear();
    to_->clear();
    cc_->clear();
    from_->clear();
    attachments_->clear();
    attachmentLabel_->setVisible(false);
    attachments_->setVisible(false);
    deleteLastPage();
    browser_->clear();
}

void ReadingPaneWidget::showItem(const mailbox::RecoveredOlmHeaderData* record) {
    browser_->clear();
    attachments_->clear();
    deleteLastPage();
    if (record == nullptr) {
        emit focusItemList();
        return;
    }
    view_ = readingPaneView(record);
    subject_->setText(toQ(view_.subject));
    to_->setPlainText(toQ(view_.to));
    cc_->setPlainText(toQ(view_.cc));
    from_->setText(toQ(view_.from));
    attachmentLabel_->setVisible(view_.attachmentsVisible);
    attachments_->setVisible(view_.attachmentsVisible);
    for (const std::string& name : view_.attachmentRows) {
        const QString text = toQ(name);
        attachments_->addItem(new QListWidgetItem(attachmentIcon(text), text));
    }
    const std::string page =
        writePreviewPage(fromQ(previewFolder_), state_.previewHtml, state_.previewHasHtml);
    lastPage_ = toQ(page);
    if (!page.empty()) {
        QFile file(lastPage_);
        if (file.open(QIODevice::ReadOnly)) {
            QByteArray bytes = file.readAll();
            if (bytes.startsWith("\xEF\xBB\xBF"))
                bytes.remove(0, 3);
            browser_->setHtml(QString::fromUtf8(bytes));
        }
    }
    emit focusItemList();
}

void ReadingPaneWidget::openAttachment(int row) {
    if (row < 0 || row >= static_cast<int>(state_.extractedPaths.size()) ||
        state_.attachmentsFolder.empty())
        return;
    const QString wanted = toQ(state_.extractedPaths[static_cast<std::size_t>(row)]);
    const QDir folder(toQ(state_.attachmentsFolder));
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        if (entry.absoluteFilePath().compare(QFileInfo(wanted).absoluteFilePath(),
                                             Qt::CaseInsensitive) == 0) {
            desktopHooks().openUrl(QUrl::fromLocalFile(entry.absoluteFilePath()));
            return;
        }
    }
}

} // namespace parvelle::ui::qt
