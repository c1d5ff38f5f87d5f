#include "ui/qt/progress_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace parvelle::ui::qt {

ProgressDialog::ProgressDialog(QWidget* parent, mailbox::JobState& state, ProgressModel::Form form,
                               std::function<int()> askStop)
    : PlainKeysDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), state_(state),
      askStop_(std::move(askStop)) {
    setObjectName("progressDialog");
    setModal(true);
    makeWhite(this);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setStyleSheet("QFrame#progressFrame { border: 1px solid #7a8594; background: white; }");
    frame->setObjectName("progressFrame");
    auto* inner = new QVBoxLayout(frame);
    for (int i = 0; i < 3; ++i) {
        lines_[i] = new QLabel(frame);
        lines_[i]->setObjectName(QStringLiteral("line%1").arg(i + 1));
        lines_[i]->setMinimumWidth(420);
        lines_[i]->setTextFormat(Qt::PlainText);
        inner->addWidget(lines_[i]);
    }
    bar_ = new QProgressBar(frame);
    bar_->setObjectName("bar");
    bar_->setTextVisible(false);
    inner->addWidget(bar_);
    stop_ = new QPushButton(tr("Stop"), frame);
    stop_->setObjectName("stop");
    stop_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(stop_);
    inner->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(frame);

    connect(stop_, &QPushButton::clicked, this, [this] {
        if (askStop_ && askStop_() == 1)
            state_.stopRequested = 1;
    });
    model_.open(form);
    refresh();
}

void ProgressDialog::onProgress() {
    model_.onProgress(state_);
    refreshSometimes();
}

void ProgressDialog::onListFolder() {
    model_.onListFolder(state_);
    refreshSometimes();
}

void ProgressDialog::refreshSometimes() {
    constexpr int kInterval = 40;
    if (!sinceRefresh_.isValid() || sinceRefresh_.elapsed() >= kInterval) {
        refresh();
        return;
    }
    // The last notification before a pause is still shown, a moment later.
    if (!refreshPending_) {
        refreshPending_ = true;
        QTimer::singleShot(kInterval, this, [this] { refresh(); });
    }
}

void ProgressDialog::finish() {
    finishing_ = true;
    done(0);
}

void ProgressDialog::reject() {
    // Only the job closes this box.
    if (finishing_)
        QDialog::reject();
}

void ProgressDialog::refresh() {
    sinceRefresh_.start();
    refreshPending_ = false;
    for (int i = 0; i < 3; ++i)
        lines_[i]->setText(toQ(model_.line(i)));
    const ProgressBar& bar = model_.bar();
    bar_->setRange(bar.minimum, bar.maximum > bar.minimum ? bar.maximum : bar.minimum + 1);
    bar_->setValue(bar.value);
    bar_->setVisible(bar.visible);
    stop_->setVisible(model_.stopVisible());
}

} // namespace parvelle::ui::qt
