#include "ui/qt/mailbox_dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/olm_search.h"
#include "ui/qt/desktop_hooks.h"
#include "ui/texts.h"

namespace parvelle::ui::qt {

FindDialog::FindDialog(QWidget* parent, mailbox::JobState& state,
                       std::function<int(const QString&, MessageIcon, bool)> ask,
                       const std::vector<std::string>& roots)
    : QDialog(parent), state_(state), ask_(std::move(ask)), lookInEntries_(roots) {
    setWindowTitle(tr("Find OLM Mailbox"));
    setObjectName("findDialog");
    makeWhite(this);
    lookIn_ = new QComboBox(this);
    lookIn_->setObjectName("lookIn");
    for (const std::string& root : roots)
        lookIn_->addItem(toQ(root));
    lookIn_->setCurrentIndex(roots.empty() ? -1 : 0);
    fileType_ = new QComboBox(this);
    fileType_->addItem(QString::fromLatin1(texts::kOlmFileType));
    fileType_->setCurrentIndex(0);
    subfolders_ = new QCheckBox(tr("Search in Subfolders"), this);
    subfolders_->setObjectName("subfolders");
    subfolders_->setChecked(true);
    results_ = new QTreeWidget(this);
    results_->setObjectName("results");
    results_->setRootIsDecorated(false);
    results_->setSelectionBehavior(QAbstractItemView::SelectRows);
    results_->setHeaderLabels(
        {tr("Name"), tr("Size"), tr("Created"), tr("Accessed"), tr("Modified")});
    const int widths[] = {233, 75, 100, 100, 100};
    for (int c = 0; c < 5; ++c)
        results_->setColumnWidth(c, widths[c]);
    status_ = new QLabel(this);
    status_->setObjectName("status");
    status_->setFont(messageFont());
    busy_ = new QProgressBar(this);
    busy_->setRange(0, 0);
    busy_->setMaximumWidth(120);
    busy_->setTextVisible(false);
    busy_->hide();

    find_ = new QPushButton(tr("Find"), this);
    stop_ = new QPushButton(tr("Stop"), this);
    findInFolder_ = new QPushButton(tr("Find in Folder"), this);
    clearList_ = new QPushButton(tr("Clear List"), this);
    ok_ = new QPushButton(tr("OK"), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    const char* names[] = {"find", "stop", "findInFolder", "clearList", "ok", "cancel"};
    QPushButton* buttons[] = {find_, stop_, findInFolder_, clearList_, ok_, cancel_};
    for (int i = 0; i < 6; ++i) {
        buttons[i]->setObjectName(names[i]);
        buttons[i]->setAutoDefault(false);
    }

    auto* form = new QGridLayout;
    form->addWidget(new QLabel(tr("Look in:"), this), 0, 0);
    form->addWidget(lookIn_, 0, 1);
    form->addWidget(findInFolder_, 0, 2);
    form->addWidget(new QLabel(tr("File type:"), this), 1, 0);
    form->addWidget(fileType_, 1, 1);
    form->addWidget(subfolders_, 1, 2);
    form->setColumnStretch(1, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(find_);
    side->addWidget(stop_);
    side->addWidget(clearList_);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addLayout(side);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(status_, 1);
    bottom->addWidget(busy_);
    bottom->addWidget(ok_);
    bottom->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(results_, 1);
    layout->addLayout(bottom);
    resize(680, 420);

    connect(find_, &QPushButton::clicked, this, &FindDialog::find);
    connect(stop_, &QPushButton::clicked, this, &FindDialog::stopPressed);
    connect(findInFolder_, &QPushButton::clicked, this, &FindDialog::findInFolder);
    connect(clearList_, &QPushButton::clicked, this, &FindDialog::clearList);
    connect(ok_, &QPushButton::clicked, this, &FindDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &FindDialog::reject);
    connect(subfolders_, &QCheckBox::clicked, this, [this] { logic_.toggleSubfolders(); });
    connect(results_, &QTreeWidget::itemSelectionChanged, this, [this] {
        logic_.rowSelected(results_->topLevelItemCount() > 0);
        applyControls();
    });
    logic_.open();
    applyControls();
}

FindDialog::~FindDialog() {
    endSearch();
}

void FindDialog::applyControls() {
    const auto& c = logic_.controls();
    lookIn_->setEnabled(c.lookIn);
    find_->setEnabled(c.find);
    stop_->setEnabled(c.stop);
    findInFolder_->setEnabled(c.findInFolder);
    clearList_->setEnabled(c.clearList);
    subfolders_->setEnabled(c.subfolders);
    ok_->setEnabled(c.ok);
    cancel_->setEnabled(c.cancel);
    status_->setText(toQ(logic_.statusText()));
}

void FindDialog::setPaused(bool paused) {
    {
        std::lock_guard lock(pauseMutex_);
        paused_ = paused;
    }
    pauseChanged_.notify_all();
}

void FindDialog::find() {
    if (!logic_.findPressed(lookIn_->currentIndex() >= 0))
        return;
    endSearch();
    results_->clear();
    logic_.searchStarted();
    applyControls();
    busy_->show();
    stopFlag_ = 0;
    const std::string folder = fromQ(lookIn_->currentText());
    const bool subfolders = logic_.subfolders();
    worker_ = std::thread([this, folder, subfolders] {
        OlmSearch search(stopFlag_, [this] {
            std::unique_lock lock(pauseMutex_);
            pauseChanged_.wait(lock, [this] { return !paused_; });
        });
        search.run(folder, subfolders, [this](const FoundFile& file) {
            QMetaObject::invokeMethod(
                this, [this, file] { addRow(file); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this, [this] { searchEnded(); }, Qt::QueuedConnection);
    });
}

void FindDialog::addRow(const FoundFile& file) {
    auto* row = new QTreeWidgetItem(results_);
    row->setText(0, toQ(file.path));
    row->setText(1, toQ(file.size));
    row->setText(2, toQ(file.created));
    row->setText(3, toQ(file.accessed));
    row->setText(4, toQ(file.modified));
    logic_.fileFound();
}

void FindDialog::searchEnded() {
    if (worker_.joinable())
        worker_.join();
    busy_->hide();
    stopFlag_ = 0;
    const std::string message = logic_.searchEnded(!results_->selectedItems().isEmpty());
    applyControls();
    ask_(toQ(message), MessageIcon::Information, true);
    emit searchFinished();
}

void FindDialog::endSearch() {
    if (!worker_.joinable())
        return;
    stopFlag_ = 1;
    setPaused(false);
    worker_.join();
}

bool FindDialog::askStop() {
    setPaused(true);
    const bool yes =
        ask_(QString::fromLatin1(texts::kStopQuestion), MessageIcon::Question, false) == 1;
    if (yes)
        stopFlag_ = 1;
    setPaused(false);
    return yes;
}

void FindDialog::stopPressed() {
    logic_.stopPressed();
    applyControls();
    logic_.stopAnswered(askStop());
    applyControls();
}

void FindDialog::findInFolder() {
    const auto folder = desktopHooks().folder(this, tr("Select file path"));
    if (!folder)
        return;
    const int index = FindDialogLogic::addLookIn(lookInEntries_, fromQ(*folder));
    if (index >= lookIn_->count())
        lookIn_->addItem(*folder);
    lookIn_->setCurrentIndex(index);
}

void FindDialog::clearList() {
    results_->clear();
    logic_.clearList();
    applyControls();
}

void FindDialog::accept() {
    const QList<QTreeWidgetItem*> selected = results_->selectedItems();
    if (selected.isEmpty()) {
        ask_(QString::fromLatin1(texts::kSelectProfile), MessageIcon::Question, true);
        return;
    }
    state_.archivePath = fromQ(selected.first()->text(0));
    results_->clear();
    lookIn_->clear();
    fileType_->clear();
    QDialog::accept();
}

void FindDialog::reject() {
    if (worker_.joinable()) {
        if (!askStop())
            return;
        endSearch();
    }
    QDialog::reject();
}

void FindDialog::closeEvent(QCloseEvent* event) {
    // The search ends before the dialog's data goes away.
    endSearch();
    QDialog::closeEvent(event);
}

void FindDialog::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

// ---------------------------------------------------------------------------------------------

SelectMailboxDialog::SelectMailboxDialog(QWidget* parent, mailbox::JobState& state,
                                         std::function<int(const QString&, MessageIcon, bool)> ask,
                                         std::function<void()> help, std::function<void()> convert)
    : QDialog(parent), state_(state), ask_(std::move(ask)), onConvert_(std::move(convert)) {
    setWindowTitle(tr("Select Mailbox"));
    setObjectName("selectMailboxDialog");
    makeWhite(this);
    auto* group = new QGroupBox(tr("Select Mailbox (OLM)"), this);
    auto* hint = new QLabel(QString::fromLatin1(texts::kSelectMailboxHint), group);
    hint->setWordWrap(true);
    path_ = new QLineEdit(group);
    path_->setObjectName("path");
    path_->setReadOnly(true);
    path_->setMinimumWidth(380);
    auto* select = new QPushButton(tr("Select Mailbox"), group);
    auto* findButton = new QPushButton(tr("Find Mailbox"), group);
    convertButton_ = new QPushButton(tr("Convert"), this);
    auto* helpButton = new QPushButton(tr("Help"), this);
    select->setObjectName("selectMailbox");
    findButton->setObjectName("findMailbox");
    convertButton_->setObjectName("convert");
    helpButton->setObjectName("help");
    for (QPushButton* b : {select, findButton, convertButton_, helpButton})
        b->setAutoDefault(false);
    convertButton_->setEnabled(false);

    auto* groupLayout = new QGridLayout(group);
    groupLayout->addWidget(hint, 0, 0, 1, 2);
    groupLayout->addWidget(path_, 1, 0, 1, 2);
    groupLayout->addWidget(select, 2, 0);
    groupLayout->addWidget(findButton, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(convertButton_);
    buttons->addWidget(helpButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    connect(select, &QPushButton::clicked, this, [this] {
        const auto file =
            desktopHooks().openFile(this, tr("Select Mailbox"), tr("The OLM Files (*.olm *.OLM)"));
        if (!file)
            return;
        state_.archivePath = fromQ(*file);
        path_->setText(*file);
        convertButton_->setEnabled(true);
    });
    connect(findButton, &QPushButton::clicked, this, [this] {
        path_->clear();
        FindDialog dialog(this, state_, ask_,
                          searchRoots ? searchRoots() : ui::searchRoots(fromQ(QDir::homePath())));
        if (dialog.exec() == QDialog::Accepted)
            path_->setText(toQ(state_.archivePath));
        convertButton_->setEnabled(!path_->text().isEmpty());
    });
    connect(convertButton_, &QPushButton::clicked, this, [this] {
        convert_ = true;
        if (onConvert_)
            onConvert_();
        QDialog::accept();
    });
    connect(helpButton, &QPushButton::clicked, this, [help] {
        if (help)
            help();
    });
}

} // namespace parvelle::ui::qt
