#pragma once
// "Select Mailbox" and "Find OLM Mailbox".
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "mailbox/job_state.h"
#include "ui/find_dialog_logic.h"
#include "ui/olm_search.h"
#include "ui/qt/common.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace parvelle::ui::qt {

class FindDialog : public QDialog {
    Q_OBJECT
public:
    // `ask` shows a message and returns its answer; `roots` fill the look-in list.
    FindDialog(QWidget* parent, mailbox::JobState& state,
               std::function<int(const QString&, MessageIcon, bool)> ask,
               const std::vector<std::string>& roots);
    ~FindDialog() override;

    const FindDialogLogic& logic() const { return logic_; }
    QTreeWidget* results() const { return results_; }
    bool searching() const { return worker_.joinable(); }

signals:
    void searchFinished();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void find();
    void stopPressed();
    bool askStop();
    void findInFolder();
    void clearList();
    void accept() override;
    void addRow(const FoundFile& file);
    void searchEnded();
    void endSearch();
    void applyControls();
    void setPaused(bool paused);

    mailbox::JobState& state_;
    std::function<int(const QString&, MessageIcon, bool)> ask_;
    FindDialogLogic logic_;
    QComboBox* lookIn_;
    QComboBox* fileType_;
    QCheckBox* subfolders_;
    QTreeWidget* results_;
    QLabel* status_;
    QProgressBar* busy_;
    QPushButton *find_, *stop_, *findInFolder_, *clearList_, *ok_, *cancel_;

    std::thread worker_;
    std::atomic<int> stopFlag_{0};
    std::mutex pauseMutex_;
    std::condition_variable pauseChanged_;
    bool paused_ = false;
    std::vector<std::string> lookInEntries_;
};

class SelectMailboxDialog : public QDialog {
    Q_OBJECT
public:
    SelectMailboxDialog(QWidget* parent, mailbox::JobState& state,
                        std::function<int(const QString&, MessageIcon, bool)> ask,
                        std::function<void()> help, std::function<void()> convert);
    bool convertChosen() const { return convert_; }
    QLineEdit* pathField() const { return path_; }

    // Runs "Find OLM Mailbox" with the look-in roots (the tests pass their own).
    std::function<std::vector<std::string>()> searchRoots;

private:
    mailbox::JobState& state_;
    std::function<int(const QString&, MessageIcon, bool)> ask_;
    std::function<void()> onConvert_;
    QLineEdit* path_;
    QPushButton* convertButton_;
    bool convert_ = false;
};

} // namespace parvelle::ui::qt
