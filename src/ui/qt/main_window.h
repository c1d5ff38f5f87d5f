#pragma once
// The main window: menu, toolbar, status bar, the folder tree beside the item list and reading
// pane, the commands, and the bridge through which the jobs' notifications reach the widgets.
#include <QMainWindow>
#include <functional>
#include <memory>
#include <thread>

#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"
#include "ui/desktop_services.h"
#include "ui/progress_model.h"

class QAction;
class QLabel;

namespace parvelle::ui::qt {

class BiSplitter;
class FolderTreeView;
class ItemListView;
class MessageBoxDialog;
class ProgressDialog;
class ReadingPaneWidget;

class MainWindow : public QMainWindow, public mailbox::JobFrontEnd {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // JobFrontEnd: called from the job threads; each call is carried out on the UI thread,
    // "sent" ones while the job waits.
    void send(mailbox::Notification n, std::int64_t wParam, const void* lParam) override;
    void post(mailbox::Notification n, std::int64_t wParam, std::int64_t lParam) override;
    void treeNodeInserted(mailbox::TreeItem item) override;
    void expandTree(mailbox::TreeItem root) override;
    void closeJobWindows() override;
    void clearItemList() override;
    int showMessage(const std::string& text, mailbox::MessageIcon icon) override;

    // The application's message box; returns 1 yes, 0 no, -1 OK/none.
    int ask(const QString& text, mailbox::MessageIcon icon, bool okOnly);

    // Commands.
    void selectMailbox();
    void saveMailbox();
    void showLogReport();
    void showHelp();
    void showAbout();
    void openWebPage(const char* settingName);
    // Starts the scan of state().archivePath as "Convert" does.
    void startScan();
    // What "Exit" does once confirmed (also the end asked for by a signal): a running job is
    // stopped and allowed to finish, so a save closes its output file consistently instead of
    // leaving it half written; then the session is reset, which removes the working files. What
    // the job posts at its end shows nothing any more.
    void endSession();

    mailbox::JobState& state() { return state_; }
    FolderTreeView* folderTree() const { return tree_; }
    ItemListView* itemList() const { return list_; }
    ReadingPaneWidget* readingPane() const { return pane_; }
    BiSplitter* rightSplitter() const { return splitter_; }
    QLabel* statusPane(int index) const { return status_[index]; }
    QAction* action(const char* name) const;
    bool jobRunning() const { return static_cast<bool>(activeJob_); }
    const std::string& workFolder() const { return work_.path(); }
    ProgressDialog* progressDialog() const;

    // Runs `job` on a worker thread while the modal progress dialog is shown; returns when the
    // dialog closes. Does nothing while another job runs.
    void runJob(std::function<void()> job, ProgressModel::Form form);

signals:
    void jobThreadEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct JobContext;

    void buildMenus();
    void updateCommands();
    void onSent(mailbox::Notification n, std::int64_t wParam, const void* lParam);
    void onPosted(mailbox::Notification n, std::int64_t wParam);
    void jobThreadFinished(const std::shared_ptr<JobContext>& context);
    // Waits (handling events) until the job's thread has ended; only for the exit paths.
    void waitForJob(const std::shared_ptr<JobContext>& job);
    void waitForActiveJob();
    void startList(mailbox::TreeItem node);
    void startPreview(int row);
    void onNodeSelected(mailbox::TreeItem node);
    void onCheckClicked(mailbox::TreeItem node);
    void resetSession();
    void startJob(mailbox::JobKind kind, bool stopShown);
    template <typename F> void onUiThread(F f);

    mailbox::JobState state_;
    PrivateFolder work_;
    QString previewFolder_;
    ReadOnlySettings settings_;
    FolderTreeView* tree_;
    ItemListView* list_;
    ReadingPaneWidget* pane_;
    BiSplitter* splitter_;
    QLabel* status_[4];
    MessageBoxDialog* messageBox_ = nullptr;
    std::shared_ptr<JobContext> activeJob_;
    bool listingFromTreeClick_ = false;
    int previewSelections_ = 0;
    bool firstPreviewShown_ = false;
    // A row was selected while another job ran; its preview starts when that job has ended.
    bool previewPending_ = false;
    // The same for a folder selected while a job ran: it is listed when the job has ended.
    mailbox::TreeItem pendingNode_ = 0;
    bool exiting_ = false;
};

} // namespace parvelle::ui::qt
