#pragma once
// The modal box shown while a job runs: three lines, a bar and, for scans and saves, "Stop".
#include <QElapsedTimer>
#include <functional>

#include "ui/progress_model.h"
#include "ui/qt/common.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace parvelle::ui::qt {

class ProgressDialog : public PlainKeysDialog {
    Q_OBJECT
public:
    // `askStop` shows the stop question and returns the answer (1 yes).
    ProgressDialog(QWidget* parent, mailbox::JobState& state, ProgressModel::Form form,
                   std::function<int()> askStop);

    void onProgress();
    void onListFolder();
    // Closes the dialog (the job calls this when it ends).
    void finish();

    const ProgressModel& model() const { return model_; }

protected:
    void reject() override;

private:
    void refresh();
    // Redraws at most every few milliseconds: a scan sends a notification per item.
    void refreshSometimes();

    mailbox::JobState& state_;
    ProgressModel model_;
    std::function<int()> askStop_;
    QLabel* lines_[3];
    QProgressBar* bar_;
    QPushButton* stop_;
    bool finishing_ = false;
    QElapsedTimer sinceRefresh_;
    bool refreshPending_ = false;
};

} // namespace parvelle::ui::qt
