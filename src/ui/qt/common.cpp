#include "ui/qt/common.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "mailbox/folder_tree.h"
#include "ui/texts.h"

static void initParvelleIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace parvelle::ui::qt {

void initResources() {
    initParvelleIcons();
}

QIcon svgIcon(const QString& name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(name));
}

QIcon folderIcon(int index) {
    static const char* const kNames[] = {
        "folder_inbox",    "folder_outbox",   "folder_sent", "folder_deleted", "folder_drafts",
        "folder_calendar", "folder_contacts", "folder",      "archive",        "account",
        "folder_junk",     "folder_notes",    "folder_tasks"};
    if (index < 0 || index >= static_cast<int>(std::size(kNames)))
        index = mailbox::kIconFolder;
    return svgIcon(QString::fromLatin1(kNames[index]));
}

QFont messageFont() {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() + 1 : 11);
    return font;
}

void makeWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::Base, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QString toQ(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::string fromQ(const QString& s) {
    return s.toUtf8().toStdString();
}

void PlainKeysDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Space:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

MessageBoxDialog::MessageBoxDialog(QWidget* parent, const QString& text, MessageIcon icon,
                                   bool okOnly)
    : PlainKeysDialog(parent), text_(text), icon_(icon) {
    setWindowTitle(QString::fromLatin1(texts::kAppTitle));
    setObjectName("messageBox");
    makeWhite(this);
    auto* picture = new QLabel(this);
    picture->setObjectName("picture");
    const char* name = nullptr;
    switch (icon) {
    case MessageIcon::Information:
        name = "msg_information";
        break;
    case MessageIcon::Question:
        name = "msg_question";
        break;
    case MessageIcon::Error:
        name = "msg_error";
        break;
    default:
        break;
    }
    if (name != nullptr)
        picture->setPixmap(
            svgIcon(QString::fromLatin1(name)).pixmap(QSize(32, 32), devicePixelRatio()));
    picture->setVisible(name != nullptr);
    picture->setAlignment(Qt::AlignTop);

    auto* label = new QLabel(text, this);
    label->setObjectName("text");
    label->setFont(messageFont());
    label->setWordWrap(true);
    label->setMinimumWidth(300);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* yes = new QPushButton(tr("Yes"), this);
    auto* no = new QPushButton(tr("No"), this);
    auto* ok = new QPushButton(tr("OK"), this);
    yes->setObjectName("yes");
    no->setObjectName("no");
    ok->setObjectName("ok");
    for (QPushButton* b : {yes, no, ok})
        b->setAutoDefault(false);
    yes->setVisible(!okOnly);
    no->setVisible(!okOnly);
    ok->setVisible(okOnly);
    connect(yes, &QPushButton::clicked, this, [this] {
        answer_ = 1;
        accept();
    });
    connect(no, &QPushButton::clicked, this, [this] {
        answer_ = 0;
        accept();
    });
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(8);
    top->addWidget(label, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(yes);
    buttons->addWidget(no);
    buttons->addWidget(ok);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace parvelle::ui::qt
