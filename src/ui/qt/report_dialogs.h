#pragma once
// "Log Report" and "About Parvelle".
#include <functional>

#include "mailbox/conversion_log.h"
#include "ui/log_report.h"
#include "ui/qt/common.h"

class QPushButton;
class QTreeWidget;

namespace parvelle::ui::qt {

class LogReportDialog : public PlainKeysDialog {
    Q_OBJECT
public:
    LogReportDialog(QWidget* parent, mailbox::ConversionLog& log,
                    std::function<int(const QString&, MessageIcon, bool)> ask);
    QTreeWidget* list() const { return list_; }
    const LogReportModel& model() const { return model_; }

private:
    void saveLog();
    void clearLog();
    void apply();

    mailbox::ConversionLog& log_;
    std::function<int(const QString&, MessageIcon, bool)> ask_;
    LogReportModel model_;
    QTreeWidget* list_;
    QPushButton* save_;
    QPushButton* clear_;
};

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // `licensePath` names the license text shown by "View User License" (hidden when empty).
    AboutDialog(QWidget* parent, const QString& licensePath);
};

} // namespace parvelle::ui::qt
