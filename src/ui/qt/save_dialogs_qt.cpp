#include "ui/qt/save_dialogs_qt.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <ctime>

#include "ui/qt/desktop_hooks.h"
#include "ui/save_hook.h"
#include "ui/texts.h"

namespace parvelle::ui::qt {
namespace {

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QPushButton* b : buttons)
        row->addWidget(b);
    return row;
}

QLineEdit* readOnlyPath(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setMinimumWidth(320);
    return edit;
}

// "Save Mailbox Option".
class FormatDialog : public PlainKeysDialog {
public:
    FormatDialog(QWidget* parent, JobState& state) : PlainKeysDialog(parent), logic_(state) {
        setWindowTitle(tr("Save Mailbox Option"));
        setObjectName("formatDialog");
        makeWhite(this);
        logic_.open();
        auto* group = new QGroupBox(tr("Save As"), this);
        auto* grid = new QVBoxLayout(group);
        for (int i = 0; i < FormatChoiceLogic::kChoices; ++i) {
            auto* radio =
                new QRadioButton(QString::fromLatin1(FormatChoiceLogic::labelAt(i)), group);
            radio->setObjectName(QStringLiteral("format%1").arg(i));
            radios_.addButton(radio, i);
            grid->addWidget(radio);
        }
        radios_.button(0)->setChecked(true);
        auto* ok = button(tr("OK"), "ok", this);
        connect(ok, &QPushButton::clicked, this, [this] {
            logic_.accept(radios_.checkedId());
            accept();
        });
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(group);
        layout->addLayout(buttonRow({ok}));
    }

private:
    FormatChoiceLogic logic_;
    QButtonGroup radios_;
};

// "Enter PST File Password".
class PasswordDialog : public QDialog {
public:
    PasswordDialog(QWidget* parent, JobState& state, MessageSink& sink) : QDialog(parent) {
        setWindowTitle(tr("Enter PST File Password"));
        setObjectName("passwordDialog");
        makeWhite(this);
        auto* text = new QLabel(
            tr("Selected Profile/PST File is password protected, Please enter password."), this);
        auto* field = new QLineEdit(this);
        field->setObjectName("password");
        field->setEchoMode(QLineEdit::Password);
        QPalette p = field->palette();
        p.setColor(QPalette::Text, Qt::black);
        p.setColor(QPalette::Base, Qt::white);
        field->setPalette(p);
        auto* ok = button(tr("OK"), "ok", this);
        connect(ok, &QPushButton::clicked, this, [this, field, &state, &sink] {
            if (acceptPstPassword(state, fromQ(field->text()), sink))
                accept();
        });
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(tr("Password:"), this));
        row->addWidget(field, 1);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(text);
        layout->addLayout(row);
        layout->addLayout(buttonRow({ok}));
        field->setFocus();
    }
};

// "Select Profile and PST".
class AppendDialog : public PlainKeysDialog {
public:
    AppendDialog(QWidget* parent, JobState& state, int& requested, MessageSink& sink)
        : PlainKeysDialog(parent), state_(state), sink_(sink),
          logic_(state, requested, storeServices(), sink) {
        setWindowTitle(tr("Select Profile and PST"));
        setObjectName("appendDialog");
        makeWhite(this);
        profileRadio_ = new QRadioButton(tr("Select Outlook Profile to add converted mails"), this);
        profileRadio_->setObjectName("profileRadio");
        pstRadio_ = new QRadioButton(tr("Select Outlook PST file to add converted mails."), this);
        pstRadio_->setObjectName("pstRadio");
        list_ = new QTreeWidget(this);
        list_->setObjectName("profiles");
        list_->setRootIsDecorated(false);
        list_->setHeaderLabels({tr("Profile Name"), tr("PST File Path")});
        // The profile column is at least as wide as its caption.
        list_->setColumnWidth(0, std::max(75, list_->header()->sectionSizeHint(0)));
        list_->setColumnWidth(1, 725);
        list_->setSelectionBehavior(QAbstractItemView::SelectRows);
        path_ = readOnlyPath(this, "path");
        browse_ = button(tr("Browse..."), "browse", this);
        ok_ = button(tr("OK"), "ok", this);

        auto* pathRow = new QHBoxLayout;
        pathRow->addWidget(path_, 1);
        pathRow->addWidget(browse_);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(profileRadio_);
        layout->addWidget(list_, 1);
        layout->addWidget(pstRadio_);
        layout->addLayout(pathRow);
        layout->addLayout(buttonRow({ok_}));
        // Wide enough for both columns, so an empty list shows no horizontal scroll bar.
        resize(list_->columnWidth(0) + list_->columnWidth(1) + 40, 360);

        connect(profileRadio_, &QRadioButton::clicked, this, [this] {
            logic_.chooseProfiles();
            apply();
        });
        connect(pstRadio_, &QRadioButton::clicked, this, [this] {
            logic_.choosePstFile();
            apply();
        });
        connect(browse_, &QPushButton::clicked, this, [this] {
            logic_.browseStarted();
            apply();
            const auto file =
                desktopHooks().openFile(this, tr("Select PST File"), tr("Pst file (*.pst *.PST)"));
            logic_.browseFinished(file ? std::optional<std::string>(fromQ(*file)) : std::nullopt);
            apply();
        });
        connect(list_, &QTreeWidget::currentItemChanged, this,
                [this] { logic_.selectRow(list_->currentIndex().row()); });
        connect(ok_, &QPushButton::clicked, this, [this] {
            const bool accepted = logic_.accept([this]() -> std::optional<std::string> {
                PasswordDialog password(this, state_, sink_);
                if (password.exec() != QDialog::Accepted)
                    return std::nullopt;
                return state_.pstPassword;
            });
            apply();
            if (accepted)
                accept();
        });

        logic_.open();
        for (const ProfileStore& row : logic_.rows())
            new QTreeWidgetItem(list_, {toQ(row.profileName), toQ(row.pstPath)});
        if (logic_.selectedRow() >= 0 && list_->topLevelItemCount() > 0)
            list_->setCurrentItem(list_->topLevelItem(logic_.selectedRow()));
        apply();
    }

    void reject() override {
        logic_.close();
        list_->clear();
        QDialog::reject();
    }

private:
    void apply() {
        profileRadio_->setChecked(logic_.profileMode());
        pstRadio_->setChecked(!logic_.profileMode());
        list_->setEnabled(logic_.listEnabled());
        path_->setEnabled(logic_.browseEnabled());
        browse_->setEnabled(logic_.browseEnabled());
        ok_->setEnabled(logic_.okEnabled());
        path_->setText(toQ(logic_.pathField()));
    }

    JobState& state_;
    MessageSink& sink_;
    AppendLogic logic_;
    QRadioButton* profileRadio_;
    QRadioButton* pstRadio_;
    QTreeWidget* list_;
    QLineEdit* path_;
    QPushButton* browse_;
    QPushButton* ok_;
};

// "Save File".
class NewPstDialog : public QDialog {
public:
    NewPstDialog(QWidget* parent, JobState& state, int& requested)
        : QDialog(parent), logic_(state, requested) {
        setWindowTitle(tr("Save File"));
        setObjectName("newPstDialog");
        makeWhite(this);
        logic_.open();
        auto* intro = new QLabel(tr("Save converted OLM mailbox as MS Outlook mailbox"), this);
        auto* group = new QGroupBox(tr("Save Options"), this);
        auto* newRadio = new QRadioButton(tr("Save as a new Outlook PST File."), group);
        newRadio->setObjectName("newPst");
        auto* appendRadio =
            new QRadioButton(tr("Append data into existing profile/PST file."), group);
        appendRadio->setObjectName("append");
        auto* each = new QRadioButton(tr("Save each mailbox as individual PST"), group);
        each->setObjectName("perMailbox");
        auto* single = new QRadioButton(tr("Save all mailboxes in single PST"), group);
        single->setObjectName("single");
        auto* kinds = new QButtonGroup(this);
        kinds->addButton(newRadio);
        kinds->addButton(appendRadio);
        auto* split = new QButtonGroup(this);
        split->addButton(each);
        split->addButton(single);
        newRadio->setChecked(true);
        each->setChecked(true);
        path_ = readOnlyPath(group, "path");
        auto* browse = button(tr("Browse..."), "browse", group);
        ok_ = button(tr("OK"), "ok", this);
        auto* cancel = button(tr("Cancel"), "cancel", this);

        auto* splitBox = new QVBoxLayout;
        splitBox->setContentsMargins(20, 0, 0, 0);
        splitBox->addWidget(each);
        splitBox->addWidget(single);
        auto* pathRow = new QHBoxLayout;
        pathRow->addWidget(new QLabel(tr("Destination Path:"), group));
        pathRow->addWidget(path_, 1);
        pathRow->addWidget(browse);
        splitBox->addLayout(pathRow);
        auto* groupLayout = new QVBoxLayout(group);
        groupLayout->addWidget(newRadio);
        groupLayout->addLayout(splitBox);
        groupLayout->addWidget(appendRadio);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(intro);
        layout->addWidget(group);
        layout->addLayout(buttonRow({ok_, cancel}));

        connect(browse, &QPushButton::clicked, this, [this] {
            logic_.folder().browseStarted();
            apply();
            const auto folder = desktopHooks().folder(this, tr("Select Destination Path"));
            logic_.folder().browseFinished(folder ? std::optional<std::string>(fromQ(*folder))
                                                  : std::nullopt);
            apply();
        });
        connect(newRadio, &QRadioButton::clicked, this, [this] {
            logic_.chooseNewPst();
            apply();
        });
        connect(appendRadio, &QRadioButton::clicked, this, [this] {
            logic_.chooseAppend();
            appendChosen_ = true;
            QDialog::reject();
        });
        connect(each, &QRadioButton::toggled, this, [this](bool on) { logic_.setPerMailbox(on); });
        connect(ok_, &QPushButton::clicked, this, [this] {
            logic_.accept(std::time(nullptr));
            accept();
        });
        connect(cancel, &QPushButton::clicked, this, &NewPstDialog::reject);
        apply();
    }

    void reject() override {
        logic_.cancel();
        QDialog::reject();
    }

    bool appendChosen() const { return appendChosen_; }

private:
    void apply() {
        ok_->setEnabled(logic_.folder().okEnabled());
        path_->setText(toQ(logic_.folder().pathField()));
    }

    NewPstLogic logic_;
    QLineEdit* path_;
    QPushButton* ok_;
    bool appendChosen_ = false;
};

// The destination of the file exports.
class FileExportDialog : public PlainKeysDialog {
public:
    FileExportDialog(QWidget* parent, JobState& state) : PlainKeysDialog(parent), logic_(state) {
        setWindowTitle(QString::fromLatin1(texts::kAppTitle));
        setObjectName("fileExportDialog");
        makeWhite(this);
        logic_.open();
        auto* caption = new QLabel(tr("Destination Path:"), this);
        caption->setFont(messageFont());
        path_ = readOnlyPath(this, "path");
        auto* browse = button(tr("Browse"), "browse", this);
        ok_ = button(tr("OK"), "ok", this);
        auto* row = new QHBoxLayout;
        row->addWidget(path_, 1);
        row->addWidget(browse);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(caption);
        layout->addLayout(row);
        layout->addLayout(buttonRow({ok_}));
        connect(browse, &QPushButton::clicked, this, [this] {
            logic_.folder().browseStarted();
            apply();
            const auto folder = desktopHooks().folder(this, tr("Select Destination Path"));
            logic_.folder().browseFinished(folder ? std::optional<std::string>(fromQ(*folder))
                                                  : std::nullopt);
            apply();
        });
        connect(ok_, &QPushButton::clicked, this, [this] {
            result_ = logic_.accept(std::time(nullptr));
            accept();
        });
        apply();
    }
    int result() const { return result_; }

private:
    void apply() {
        ok_->setEnabled(logic_.folder().okEnabled());
        path_->setText(toQ(logic_.folder().pathField()));
    }

    FileExportLogic logic_;
    QLineEdit* path_;
    QPushButton* ok_;
    int result_ = -1;
};

// "Office 365 Details".
class Office365Dialog : public PlainKeysDialog {
public:
    Office365Dialog(QWidget* parent, JobState& state, MessageSink& sink)
        : PlainKeysDialog(parent), logic_(state, sink) {
        setWindowTitle(tr("Office 365 Details"));
        setObjectName("office365Dialog");
        makeWhite(this);
        logic_.open();
        auto* intro =
            new QLabel(tr("All selected Folders will be merged with Office 365  Profile."), this);
        auto* id = new QLineEdit(this);
        id->setObjectName("mailId");
        auto* password = new QLineEdit(this);
        password->setObjectName("password");
        password->setEchoMode(QLineEdit::Password);
        auto* ok = button(tr("OK"), "ok", this);
        auto* grid = new QGridLayout;
        grid->addWidget(new QLabel(tr("Enter Mail ID:-"), this), 0, 0);
        grid->addWidget(id, 0, 1);
        grid->addWidget(new QLabel(tr("Enter Password :-"), this), 1, 0);
        grid->addWidget(password, 1, 1);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(intro);
        layout->addLayout(grid);
        layout->addLayout(buttonRow({ok}));
        connect(ok, &QPushButton::clicked, this, [this, id, password] {
            if (logic_.accept(fromQ(id->text()), fromQ(password->text()))) {
                result_ = 1;
                accept();
            }
        });
    }
    int result() const { return result_; }

private:
    Office365Logic logic_;
    int result_ = -1;
};

} // namespace

void QtSaveDialogs::formatDialog() {
    FormatDialog dialog(parent_, state_);
    dialog.exec();
}

void QtSaveDialogs::newPstDialog(int& pstSaveRequested) {
    NewPstDialog dialog(parent_, state_, pstSaveRequested);
    dialog.exec();
    if (!dialog.appendChosen())
        return;
    AppendDialog append(parent_, state_, pstSaveRequested, sink_);
    if (append.exec() != QDialog::Accepted)
        pstSaveRequested = 0;
}

int QtSaveDialogs::fileExportDialog() {
    FileExportDialog dialog(parent_, state_);
    dialog.exec();
    return dialog.result();
}

int QtSaveDialogs::office365Dialog() {
    Office365Dialog dialog(parent_, state_, sink_);
    dialog.exec();
    return dialog.result();
}

SaveCompleteDialog::SaveCompleteDialog(QWidget* parent, const JobState& state) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(texts::kAppTitle));
    setObjectName("saveCompleteDialog");
    makeWhite(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(svgIcon("msg_information").pixmap(QSize(32, 32), devicePixelRatio()));
    auto* text = new QLabel(QString::fromLatin1(texts::kSaveComplete), this);
    text->setFont(messageFont());
    auto* link = new QLabel(this);
    link->setObjectName("link");
    link->setText(QStringLiteral("<a href=\"open\" style=\"color:#0645ad\">%1</a>")
                      .arg(tr("Open destination folder")));
    link->setCursor(Qt::PointingHandCursor);
    link->setVisible(saveCompleteLinkVisible(state));
    const QString target = toQ(saveCompleteLinkTarget(state));
    connect(link, &QLabel::linkActivated, this, [this, link, target] {
        desktopHooks().openUrl(QUrl::fromLocalFile(target));
        used_ = true;
        link->setText(QStringLiteral("<a href=\"open\" style=\"color:#800080\">%1</a>")
                          .arg(tr("Open destination folder")));
    });
    auto* ok = button(tr("OK"), "ok", this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    auto* texts = new QVBoxLayout;
    texts->addWidget(text);
    texts->addWidget(link);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttonRow({ok}));
}

} // namespace parvelle::ui::qt
