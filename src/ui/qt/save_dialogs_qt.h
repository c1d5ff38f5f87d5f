#pragma once
// The dialogs of "Save Converted Mailbox", each driving its logic class.
#include <functional>

#include "ui/qt/common.h"
#include "ui/save_dialogs.h"

namespace parvelle::ui::qt {

using AskFunction = std::function<int(const QString&, MessageIcon, bool)>;

// A MessageSink that shows the application's message box.
class AskSink : public MessageSink {
public:
    explicit AskSink(AskFunction ask) : ask_(std::move(ask)) {}
    int showMessage(const std::string& text, MessageIcon icon, bool okOnly) override {
        return ask_(toQ(text), icon, okOnly);
    }

private:
    AskFunction ask_;
};

// The whole chain, as the save command runs it.
class QtSaveDialogs : public SaveDialogs {
public:
    QtSaveDialogs(QWidget* parent, JobState& state, AskFunction ask)
        : parent_(parent), state_(state), ask_(std::move(ask)), sink_(ask_) {}
    void formatDialog() override;
    void newPstDialog(int& pstSaveRequested) override;
    int fileExportDialog() override;
    int office365Dialog() override;

private:
    QWidget* parent_;
    JobState& state_;
    AskFunction ask_;
    AskSink sink_;
};

// Shown when a save has finished.
class SaveCompleteDialog : public QDialog {
    Q_OBJECT
public:
    SaveCompleteDialog(QWidget* parent, const JobState& state);
    bool linkUsed() const { return used_; }

private:
    bool used_ = false;
};

} // namespace parvelle::ui::qt
