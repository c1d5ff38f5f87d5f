#include "ui/qt/report_dialogs.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSysInfo>
#include <QTextStream>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/qt/desktop_hooks.h"
#include "ui/texts.h"

namespace parvelle::ui::qt {

LogReportDialog::LogReportDialog(QWidget* parent, mailbox::ConversionLog& log,
                                 std::function<int(const QString&, MessageIcon, bool)> ask)
    : PlainKeysDialog(parent), log_(log), ask_(std::move(ask)) {
    setWindowTitle(tr("Log Report"));
    setObjectName("logReportDialog");
    makeWhite(this);
    list_ = new QTreeWidget(this);
    list_->setObjectName("logList");
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setHeaderLabels({tr("Item Type"), tr("Description"), tr("Status")});
    list_->setColumnWidth(0, 180);
    list_->setColumnWidth(1, 350);
    list_->setColumnWidth(2, 75);
    save_ = new QPushButton(tr("Save Log"), this);
    clear_ = new QPushButton(tr("Clear Log"), this);
    auto* close = new QPushButton(tr("Close"), this);
    save_->setObjectName("saveLog");
    clear_->setObjectName("clearLog");
    close->setObjectName("close");
    for (QPushButton* b : {save_, clear_, close})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save_);
    buttons->addWidget(clear_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(660, 420);
    connect(save_, &QPushButton::clicked, this, &LogReportDialog::saveLog);
    connect(clear_, &QPushButton::clicked, this, &LogReportDialog::clearLog);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    model_.load(log_);
    for (const mailbox::LogHeader& row : model_.rows())
        new QTreeWidgetItem(list_, {toQ(row.itemType), toQ(row.description), toQ(row.status)});
    apply();
    list_->setFocus();
}

void LogReportDialog::apply() {
    save_->setEnabled(model_.saveEnabled());
    clear_->setEnabled(model_.clearEnabled());
}

void LogReportDialog::saveLog() {
    if (model_.rows().empty())
        return;
    for (;;) {
        const auto chosen = desktopHooks().saveFile(this, tr("Save Log"), tr("Log File (*.TXT)"));
        if (!chosen)
            return;
        if (model_.saveTo(fromQ(*chosen))) {
            ask_(QString::fromLatin1(texts::kLogSaved), MessageIcon::Information, true);
            return;
        }
        ask_(QString::fromLatin1(texts::kFileCantBeOpened), MessageIcon::Error, true);
    }
}

void LogReportDialog::clearLog() {
    list_->clear();
    model_.clear(log_);
    apply();
}

AboutDialog::AboutDialog(QWidget* parent, const QString& licensePath) : QDialog(parent) {
    setWindowTitle(tr("About Parvelle"));
    setObjectName("aboutDialog");
    makeWhite(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(svgIcon("app").pixmap(QSize(48, 48), devicePixelRatio()));
    auto* product = new QLabel(
        QStringLiteral("<b>%1</b> %2")
            .arg(QString::fromLatin1(texts::kAppTitle), QStringLiteral(PARVELLE_VERSION)),
        this);
    auto* system =
        new QLabel(QSysInfo::prettyProductName() + QStringLiteral(" (") + QSysInfo::kernelType() +
                       QStringLiteral(" ") + QSysInfo::kernelVersion() + QStringLiteral(")"),
                   this);
    system->setObjectName("system");
    auto* license = new QPushButton(tr("View User License"), this);
    license->setVisible(!licensePath.isEmpty());
    auto* ok = new QPushButton(tr("OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(license, &QPushButton::clicked, this, [this, licensePath] {
        QDialog view(this);
        view.setWindowTitle(tr("User License"));
        auto* lines = new QListWidget(&view);
        QFile file(licensePath);
        if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            QTextStream in(&file);
            while (!in.atEnd())
                lines->addItem(in.readLine());
        }
        auto* layout = new QVBoxLayout(&view);
        layout->addWidget(lines);
        view.resize(560, 400);
        view.exec();
    });
    auto* top = new QHBoxLayout;
    top->addWidget(picture, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(system);
    top->addLayout(texts, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(license);
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
}

} // namespace parvelle::ui::qt
