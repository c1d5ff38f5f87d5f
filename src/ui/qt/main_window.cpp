#include "ui/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <utility>

#include "mailbox/preview_job.h"
#include "mailbox/progress_job.h"
#include "ui/check_tree.h"
#include "ui/qt/bi_splitter.h"
#include "ui/qt/common.h"
#include "ui/qt/desktop_hooks.h"
#include "ui/qt/folder_tree_view.h"
#include "ui/qt/item_list_view.h"
#include "ui/qt/mailbox_dialogs.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/reading_pane_widget.h"
#include "ui/qt/report_dialogs.h"
#include "ui/qt/save_dialogs_qt.h"
#include "ui/save_hook.h"
#include "ui/session.h"
#include "ui/texts.h"

namespace parvelle::ui::qt {

using mailbox::JobKind;
using mailbox::MessageIcon;
using mailbox::Notification;

struct MainWindow::JobContext {
    std::thread thread;
    bool ended = false;
    ProgressDialog* dialog = nullptr;
    // End notifications posted while the thread still ran; handled once it has ended.
    std::vector<std::pair<Notification, std::int64_t>> deferred;
};

template <typename F> void MainWindow::onUiThread(F f) {
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, std::move(f), Qt::BlockingQueuedConnection);
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromLatin1(texts::kAppTitle));
    setWindowIcon(svgIcon("app"));
    state_.tempFolder = work_.path();
    previewFolder_ = toQ(work_.path()) + QStringLiteral("/preview");
    for (const std::string& file : settingsFiles())
        settings_.loadFile(file);

    tree_ = new FolderTreeView(state_.folderTree, this);
    list_ = new ItemListView(this);
    pane_ = new ReadingPaneWidget(state_, previewFolder_, this);
    splitter_ = new BiSplitter(this);
    splitter_->setPaneWidget(0, list_);
    splitter_->setPaneWidget(1, pane_);
    auto* columns = new QSplitter(Qt::Horizontal, this);
    columns->setObjectName("mainSplitter");
    columns->addWidget(tree_);
    columns->addWidget(splitter_);
    columns->setStretchFactor(1, 1);
    columns->setSizes({250, 750});
    columns->setChildrenCollapsible(false);
    setCentralWidget(columns);

    const int widths[] = {200, 200, 150};
    for (int i = 0; i < 4; ++i) {
        status_[i] = new QLabel(this);
        status_[i]->setObjectName(QStringLiteral("statusPane%1").arg(i));
        if (i < 3) {
            status_[i]->setFixedWidth(widths[i]);
            statusBar()->addWidget(status_[i]);
        } else {
            statusBar()->addWidget(status_[i], 1);
        }
    }
    buildMenus();

    connect(tree_, &FolderTreeView::checkClicked, this, &MainWindow::onCheckClicked);
    // Listings and previews start once the view has finished its own selection handling.
    connect(tree_, &FolderTreeView::nodeSelected, this, &MainWindow::onNodeSelected,
            Qt::QueuedConnection);
    connect(list_, &ItemListView::previewRequested, this, &MainWindow::startPreview,
            Qt::QueuedConnection);
    connect(pane_, &ReadingPaneWidget::focusItemList, this, [this] { list_->setFocus(); });
    updateCommands();
}

MainWindow::~MainWindow() {
    if (activeJob_) {
        state_.stopRequested = 1;
        waitForActiveJob();
    }
}

void MainWindow::buildMenus() {
    auto add = [this](QMenu* menu, const QString& text, const char* name, auto slot) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* select =
        add(file, tr("&Select OLM Mailbox"), "actionSelect", [this] { selectMailbox(); });
    QAction* save =
        add(file, tr("&Save Converted Mailbox"), "actionSave", [this] { saveMailbox(); });
    file->addSeparator();
    add(file, tr("E&xit"), "actionExit", [this] { close(); });
    QMenu* view = menuBar()->addMenu(tr("&View"));
    QAction* log = add(view, tr("Log Report"), "actionLog", [this] { showLogReport(); });
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* helpAction = add(help, tr("Parvelle  Help"), "actionHelp", [this] { showHelp(); });
    add(help, tr("View Support Section"), "actionSupport", [this] { openWebPage("VSS"); });
    add(help, tr("Visit Knowledgebase"), "actionKnowledgebase", [this] { openWebPage("KB"); });
    add(help, tr("Submit Enquiry"), "actionEnquiry", [this] { openWebPage("SupTick"); });
    help->addSeparator();
    QAction* about = add(help, tr("&About Parvelle"), "actionAbout", [this] { showAbout(); });
    for (QMenu* menu : {file, view, help})
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::updateCommands);

    select->setStatusTip(tr("Select OLM Mailbox"));
    save->setStatusTip(tr("Save Converted Mailbox"));
    log->setStatusTip(tr("Log Report"));
    select->setIcon(svgIcon("tb_select"));
    save->setIcon(svgIcon("tb_save"));
    log->setIcon(svgIcon("tb_log"));
    helpAction->setIcon(svgIcon("tb_help"));
    about->setIcon(svgIcon("tb_about"));

    QToolBar* toolbar = addToolBar(tr("Toolbar"));
    toolbar->setObjectName("toolbar");
    toolbar->setIconSize(QSize(48, 48));
    toolbar->setMovable(true);
    toolbar->setAllowedAreas(Qt::AllToolBarAreas);
    toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar->addAction(select);
    toolbar->addAction(save);
    toolbar->addAction(helpAction);
    toolbar->addAction(about);
}

QAction* MainWindow::action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

ProgressDialog* MainWindow::progressDialog() const {
    return activeJob_ ? activeJob_->dialog : nullptr;
}

void MainWindow::updateCommands() {
    action("actionSave")->setEnabled(commandEnabled(Command::SaveMailbox, state_));
    action("actionLog")->setEnabled(commandEnabled(Command::LogReport, state_));
}

// ---------------------------------------------------------------------------------------------
// The jobs' side.

void MainWindow::send(Notification n, std::int64_t wParam, const void* lParam) {
    onUiThread([this, n, wParam, lParam] { onSent(n, wParam, lParam); });
}

void MainWindow::post(Notification n, std::int64_t wParam, std::int64_t) {
    QMetaObject::invokeMethod(
        this, [this, n, wParam] { onPosted(n, wParam); }, Qt::QueuedConnection);
}

void MainWindow::treeNodeInserted(mailbox::TreeItem item) {
    onUiThread([this, item] { tree_->nodeInserted(item); });
}

void MainWindow::expandTree(mailbox::TreeItem root) {
    onUiThread([this, root] { tree_->expandNode(root); });
}

void MainWindow::closeJobWindows() {
    onUiThread([this] {
        if (activeJob_ && activeJob_->dialog != nullptr)
            activeJob_->dialog->finish();
        if (messageBox_ != nullptr)
            messageBox_->reject();
    });
}

void MainWindow::clearItemList() {
    onUiThread([this] { list_->removeAll(); });
}

int MainWindow::showMessage(const std::string& text, MessageIcon icon) {
    int answer = -1;
    onUiThread([&] { answer = ask(toQ(text), icon, true); });
    return answer;
}

void MainWindow::onSent(Notification n, std::int64_t, const void* lParam) {
    ProgressDialog* dialog = progressDialog();
    switch (n) {
    case Notification::ItemListed:
        if (lParam != nullptr)
            list_->addRow(*static_cast<const mailbox::RecoveredOlmHeaderData*>(lParam));
        list_->setFocus();
        break;
    case Notification::PreviewReady:
        pane_->clearPane();
        pane_->showItem(static_cast<const mailbox::RecoveredOlmHeaderData*>(lParam));
        list_->setFocus();
        break;
    case Notification::Progress:
        if (dialog != nullptr)
            dialog->onProgress();
        break;
    case Notification::ListFolder:
        if (dialog != nullptr)
            dialog->onListFolder();
        break;
    default:
        break;
    }
}

void MainWindow::onPosted(Notification n, std::int64_t wParam) {
    const bool endOfJob =
        n == Notification::Ended || n == Notification::SaveDone || n == Notification::ListDone;
    // A job posts its end before it has finished; what the end starts (a listing, a preview)
    // waits until the thread is gone, without blocking the thread meanwhile.
    if (endOfJob && activeJob_ && !activeJob_->ended) {
        activeJob_->deferred.emplace_back(n, wParam);
        return;
    }
    if (endOfJob && exiting_)
        return;
    switch (n) {
    case Notification::Ended:
        updateCommands();
        ask(QString::fromLatin1(wParam == 0 ? texts::kProcessAborted : texts::kScanSucceeded),
            MessageIcon::Information, true);
        if (state_.defaultItem != 0)
            tree_->selectNode(state_.defaultItem);
        break;
    case Notification::SaveDone: {
        updateCommands();
        SaveCompleteDialog dialog(this, state_);
        dialog.exec();
        break;
    }
    case Notification::ListDone:
        QTimer::singleShot(10, this, [this] { list_->selectFirstRow(); });
        break;
    case Notification::ItemCount:
        status_[2]->setText(QString::fromLatin1(texts::kTotalItems) +
                            QString::number(state_.itemCount.load()));
        break;
    default:
        break;
    }
}

void MainWindow::runJob(std::function<void()> job, ProgressModel::Form form) {
    if (activeJob_)
        return;
    auto context = std::make_shared<JobContext>();
    activeJob_ = context;
    ProgressDialog dialog(this, state_, form, [this] {
        return ask(QString::fromLatin1(texts::kStopQuestion), MessageIcon::Question, false);
    });
    context->dialog = &dialog;
    context->thread = std::thread([this, job = std::move(job), context] {
        job();
        QMetaObject::invokeMethod(
            this, [this, context] { jobThreadFinished(context); }, Qt::QueuedConnection);
    });
    dialog.exec();
    // The job may still be finishing (it closes this box before its last steps); it no longer
    // reaches the box, and whatever it posts at its end is handled once it has finished.
    context->dialog = nullptr;
}

void MainWindow::jobThreadFinished(const std::shared_ptr<JobContext>& context) {
    if (context->thread.joinable())
        context->thread.join();
    context->ended = true;
    if (context->dialog != nullptr)
        context->dialog->finish();
    if (activeJob_ == context)
        activeJob_.reset();
    updateCommands();
    emit jobThreadEnded();
    if (const mailbox::TreeItem node = std::exchange(pendingNode_, 0); node != 0 && !exiting_) {
        // A folder chosen during the job replaces any preview asked for before it.
        previewPending_ = false;
        QMetaObject::invokeMethod(
            this, [this, node] { onNodeSelected(node); }, Qt::QueuedConnection);
    } else if (std::exchange(previewPending_, false) && !exiting_) {
        const QModelIndex current = list_->currentIndex();
        if (current.isValid())
            QMetaObject::invokeMethod(
                this, [this, row = current.row()] { startPreview(row); }, Qt::QueuedConnection);
    }
    for (const auto& [n, wParam] : context->deferred)
        QMetaObject::invokeMethod(
            this, [this, n = n, wParam = wParam] { onPosted(n, wParam); }, Qt::QueuedConnection);
}

void MainWindow::waitForJob(const std::shared_ptr<JobContext>& job) {
    while (!job->ended) {
        QEventLoop loop;
        connect(this, &MainWindow::jobThreadEnded, &loop, &QEventLoop::quit);
        if (!job->ended)
            loop.exec();
    }
}

void MainWindow::waitForActiveJob() {
    if (activeJob_)
        waitForJob(std::shared_ptr<JobContext>(activeJob_));
}

void MainWindow::startJob(JobKind kind, bool stopShown) {
    auto job = std::make_shared<mailbox::ProgressJob>(state_, *this, kind);
    if (kind == JobKind::Save)
        job->setBody(saveJobBody());
    runJob([job] { job->run(); },
           stopShown ? ProgressModel::Form::Normal : ProgressModel::Form::StopHidden);
}

// ---------------------------------------------------------------------------------------------
// The panes.

void MainWindow::onNodeSelected(mailbox::TreeItem node) {
    state_.stopRequested = 0;
    if (node == 0)
        return;
    if (activeJob_) {
        pendingNode_ = node;
        return;
    }
    listingFromTreeClick_ = true;
    previewSelections_ = 0;
    state_.listFolderItem = node;
    state_.listedRecords.clear();
    pane_->clearPane();
    if (node == state_.rootItem)
        return;
    list_->removeAll();
    startJob(JobKind::ListFolder, false);
}

void MainWindow::onCheckClicked(mailbox::TreeItem node) {
    if (toggleCheck(state_.folderTree, state_.rootItem, node))
        tree_->refreshChecks();
}

void MainWindow::startPreview(int row) {
    const mailbox::RecoveredOlmHeaderData* record = list_->recordAt(row);
    if (record == nullptr)
        return;
    if (activeJob_) {
        // The listing that filled the row may still be finishing; preview once it has.
        previewPending_ = true;
        return;
    }
    if (++previewSelections_ > 1)
        listingFromTreeClick_ = false;
    if (state_.folderItems.empty())
        return;
    if (!firstPreviewShown_) {
        firstPreviewShown_ = true;
        splitter_->showPane(0, true);
        splitter_->showPane(1, true);
        splitter_->setDividerPosition(150);
    }
    pane_->clearPane();
    const mailbox::ItemSource selected = *record;
    runJob(
        [this, selected] {
            mailbox::PreviewJob job(state_, *this, selected);
            job.run();
        },
        ProgressModel::Form::Preview);
    if (previewSelections_ > 1)
        list_->setFocus();
    else if (listingFromTreeClick_)
        tree_->setFocus();
}

void MainWindow::resetSession() {
    ui::resetSession(state_, fromQ(previewFolder_));
    tree_->removeAll();
    list_->removeAll();
    pane_->clearPane();
    status_[2]->clear();
}

// ---------------------------------------------------------------------------------------------
// Commands.

int MainWindow::ask(const QString& text, MessageIcon icon, bool okOnly) {
    MessageBoxDialog box(this, text, icon, okOnly);
    MessageBoxDialog* previous = messageBox_;
    messageBox_ = &box;
    box.exec();
    messageBox_ = previous;
    return box.answer();
}

void MainWindow::selectMailbox() {
    auto askFn = [this](const QString& t, MessageIcon i, bool o) { return ask(t, i, o); };
    SelectMailboxDialog dialog(
        this, state_, askFn, [this] { showHelp(); },
        [this] {
            state_.saveEnabled = 0;
            resetSession();
            state_.log.clear();
        });
    dialog.exec();
    if (dialog.convertChosen())
        startScan();
}

void MainWindow::startScan() {
    list_->removeAll();
    state_.saveEnabled = 0;
    updateCommands();
    startJob(JobKind::Scan, true);
    updateCommands();
}

void MainWindow::saveMailbox() {
    if (activeJob_)
        return;
    auto askFn = [this](const QString& t, MessageIcon i, bool o) { return ask(t, i, o); };
    const bool rootChecked = state_.rootItem != 0 && state_.folderTree.isChecked(state_.rootItem);
    QtSaveDialogs dialogs(this, state_, askFn);
    AskSink sink(askFn);
    if (!runSaveCommand(state_, rootChecked, dialogs, sink))
        return;
    if (!saveJobBody()) {
        ask(QString::fromLatin1(texts::kSaveUnavailable), MessageIcon::Information, true);
        return;
    }
    state_.saveEnabled = 0;
    updateCommands();
    startJob(JobKind::Save, true);
    updateCommands();
}

void MainWindow::showLogReport() {
    LogReportDialog dialog(
        this, state_.log, [this](const QString& t, MessageIcon i, bool o) { return ask(t, i, o); });
    dialog.exec();
}

void MainWindow::showHelp() {
    const QString appDir = QCoreApplication::applicationDirPath();
    std::vector<std::string> candidates;
    const std::string installed = settings_.value("Path");
    if (!installed.empty())
        candidates.push_back(installed + "/user-guide.md");
    candidates.push_back(fromQ(appDir + "/../share/doc/parvelle/user-guide.md"));
    candidates.push_back(fromQ(appDir + "/docs/user-guide.md"));
    candidates.push_back(std::string(PARVELLE_SOURCE_DIR) + "/docs/user-guide.md");
    const std::string guide = findUserGuide(candidates);
    if (!guide.empty())
        desktopHooks().openUrl(QUrl::fromLocalFile(toQ(guide)));
}

void MainWindow::openWebPage(const char* settingName) {
    const std::string page = settings_.value(settingName);
    if (!page.empty())
        desktopHooks().openUrl(QUrl::fromUserInput(toQ(page)));
}

void MainWindow::showAbout() {
    const QString appDir = QCoreApplication::applicationDirPath();
    const std::string license =
        findUserGuide({fromQ(appDir + "/../share/doc/parvelle/license.txt"),
                       std::string(PARVELLE_SOURCE_DIR) + "/docs/license.txt"});
    AboutDialog dialog(this, toQ(license));
    dialog.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    if (ask(QString::fromLatin1(texts::kExitQuestion), MessageIcon::Question, false) != 1) {
        event->ignore();
        return;
    }
    endSession();
    event->accept();
}

void MainWindow::endSession() {
    exiting_ = true;
    state_.stopRequested = 1;
    waitForActiveJob();
    resetSession();
}

} // namespace parvelle::ui::qt
