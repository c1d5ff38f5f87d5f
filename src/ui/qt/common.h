#pragma once
// Pieces every window of the application shares: the compiled-in pictures, the white dialog
// look, the message font and the application's own message box.
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <string>

#include "ui/message_sink.h"

class QLabel;
class QPushButton;

namespace parvelle::ui::qt {

// Makes the compiled-in pictures available (the resources live in a static library).
void initResources();

QIcon svgIcon(const QString& name);
// The folder tree's picture for a FolderIcon index.
QIcon folderIcon(int index);
QFont messageFont();
// White background for a dialog and its controls.
void makeWhite(QWidget* widget);
QString toQ(const std::string& s);
std::string fromQ(const QString& s);

// A dialog on which Enter, Escape and Space press no button: it closes through its buttons or
// its close box only.
class PlainKeysDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The application's message box: a picture, the text, and "Yes"/"No" or "OK".
class MessageBoxDialog : public PlainKeysDialog {
    Q_OBJECT
public:
    MessageBoxDialog(QWidget* parent, const QString& text, MessageIcon icon, bool okOnly);
    // 1 "Yes", 0 "No", -1 "OK" or closed.
    int answer() const { return answer_; }
    const QString& text() const { return text_; }
    MessageIcon icon() const { return icon_; }

private:
    int answer_ = -1;
    QString text_;
    MessageIcon icon_;
};

} // namespace parvelle::ui::qt
