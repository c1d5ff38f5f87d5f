// parvelle-screenshots: runs the application on an archive with scripted clicks and saves a
// PNG of each window along the way (the user guide's pictures, and a visual check of layouts).
//
//   parvelle-screenshots ARCHIVE.olm OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "ui/qt/common.h"
#include "ui/qt/desktop_hooks.h"
#include "ui/qt/folder_tree_view.h"
#include "ui/qt/item_list_view.h"
#include "ui/qt/mailbox_dialogs.h"
#include "ui/qt/main_window.h"
#include "ui/qt/modal_script.h"
#include "ui/qt/reading_pane_widget.h"
#include "ui/texts.h"

using namespace parvelle;
using namespace parvelle::ui::qt;

namespace {

QString g_output;
int g_failures = 0;

void grab(QWidget* widget, const QString& name) {
    QApplication::processEvents();
    const QString path = g_output + "/" + name + ".png";
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// Waits (processing events) until `done` holds or a timeout passes.
bool waitFor(const std::function<bool()>& done, int milliseconds = 20000) {
    return processEventsUntil(done, milliseconds, 20);
}

// Lets the queued listing and preview start, then waits for them to end.
void settle(MainWindow& w) {
    waitFor([] { return false; }, 300);
    waitFor([&] { return !w.jobRunning() && !w.readingPane()->lastPageFile().isEmpty(); });
    waitFor([] { return false; }, 200);
}

// Selects a folder and waits for its first item's preview.
bool showFolder(MainWindow& w, const QString& folder, int row = 0) {
    QTreeWidgetItem* node = findNode(w.folderTree()->topLevelItem(0), folder);
    if (node == nullptr)
        return false;
    w.folderTree()->setCurrentItem(node);
    settle(w);
    if (row > 0) {
        w.itemList()->setCurrentItem(w.itemList()->topLevelItem(row));
        settle(w);
    }
    return !w.readingPane()->lastPageFile().isEmpty();
}

// The main window, able to hold a save at one of its progress steps (on the job's thread,
// before the window handles the step) so that the progress box can be grabbed mid-save.
class ScreenshotWindow : public MainWindow {
public:
    std::atomic<bool> holdSave{false};
    void send(mailbox::Notification n, std::int64_t wParam, const void* lParam) override {
        if (n == mailbox::Notification::Progress &&
            state().progressMode.load() == mailbox::ProgressMode::Saving &&
            state().itemsSaved.load() >= 3) {
            for (int i = 0; i < 30000 && holdSave.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        MainWindow::send(n, wParam, lParam);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: parvelle-screenshots ARCHIVE.olm OUTPUT_FOLDER\n");
        return 2;
    }
    initResources();
    const QString archive = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    g_output = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    QDir().mkpath(g_output);
    const QString scratch = g_output + "/scratch";
    QDir().mkpath(scratch);

    DesktopHooks& hooks = desktopHooks();
    hooks.openFile = [&](QWidget*, const QString&, const QString& filter) {
        // The PST browser of "Append" is shown a PST path, every other one the archive.
        if (filter.contains(QLatin1String("pst"), Qt::CaseInsensitive))
            return std::optional<QString>(scratch + "/Outlook.pst");
        return std::optional<QString>(archive);
    };
    hooks.folder = [&](QWidget*, const QString&) { return std::optional<QString>(scratch); };
    hooks.saveFile = [&](QWidget*, const QString&, const QString&) {
        return std::optional<QString>(scratch + "/log");
    };
    hooks.openUrl = [](const QUrl&) { return true; };

    ScreenshotWindow w;
    w.resize(1280, 800);
    w.show();

    ModalScript script;
    script
        .on("selectMailboxDialog",
            [](QWidget* d) {
                ModalScript::click(d, "selectMailbox");
                grab(d, "01-select-mailbox");
                ModalScript::click(d, "convert");
            })
        .on("messageBox", [](QWidget* box) {
            grab(box, "02-scan-complete");
            ModalScript::click(box, "ok");
        });
    QTimer::singleShot(0, &w, [&w] { w.selectMailbox(); });
    if (!waitFor([&] { return script.done() && !w.readingPane()->lastPageFile().isEmpty(); })) {
        std::fprintf(stderr, "the scan did not finish\n");
        return 1;
    }
    settle(w);
    grab(&w, "03-main-mail");

    if (showFolder(w, "Contacts"))
        grab(&w, "04-main-contact");
    else
        ++g_failures;
    if (showFolder(w, "Calendar"))
        grab(&w, "05-main-event");
    else
        ++g_failures;

    // The save chain: each dialog of each branch, left without saving.
    ModalScript chain;
    chain
        .on("formatDialog",
            [](QWidget* d) {
                grab(d, "06-save-format");
                ModalScript::click(d, "ok");
            })
        .on("newPstDialog",
            [](QWidget* d) {
                ModalScript::click(d, "browse");
                grab(d, "07-save-new-pst");
                d->findChild<QRadioButton*>("append")->click();
            })
        .on("appendDialog",
            [](QWidget* d) {
                ModalScript::click(d, "browse");
                grab(d, "08-save-append");
                d->close();
            })
        .on("formatDialog",
            [](QWidget* d) {
                d->findChild<QRadioButton*>("format1")->setChecked(true);
                ModalScript::click(d, "ok");
            })
        .on("fileExportDialog",
            [](QWidget* d) {
                ModalScript::click(d, "browse");
                grab(d, "09-save-files");
                d->close();
            })
        .on("formatDialog",
            [](QWidget* d) {
                d->findChild<QRadioButton*>("format6")->setChecked(true);
                ModalScript::click(d, "ok");
            })
        .on("office365Dialog", [](QWidget* d) {
            d->findChild<QLineEdit*>("mailId")->setText("someone@example.com");
            grab(d, "10-save-office365");
            d->close();
        });
    w.saveMailbox();
    w.saveMailbox();
    w.saveMailbox();

    // A real save into a new PST: the progress box (the job held at one of its steps while it is
    // grabbed) and the closing message.
    w.holdSave = true;
    ModalScript save;
    save.on("formatDialog", [](QWidget* d) { ModalScript::click(d, "ok"); })
        .on("newPstDialog",
            [](QWidget* d) {
                ModalScript::click(d, "browse");
                ModalScript::click(d, "ok");
            })
        .on("progressDialog",
            [&w](QWidget* d) {
                waitFor([] { return false; }, 200);
                grab(d, "11-progress");
                w.holdSave = false;
            })
        .on("saveCompleteDialog", [](QWidget* d) {
            grab(d, "12-save-complete");
            ModalScript::click(d, "ok");
        });
    w.saveMailbox();
    w.holdSave = false;
    waitFor([&] { return save.done() && !w.jobRunning(); }, 60000);

    // "Find OLM Mailbox" with the results of a search in the archive's folder.
    ModalScript find;
    find.on("selectMailboxDialog", [](QWidget* d) { ModalScript::click(d, "findMailbox"); })
        .on("findDialog", [](QWidget* d) { ModalScript::click(d, "find"); })
        .on("messageBox", [](QWidget* box) { ModalScript::click(box, "ok"); })
        .on("findDialog",
            [](QWidget* d) {
                auto* results = d->findChild<QTreeWidget*>("results");
                if (results->topLevelItemCount() > 0)
                    results->setCurrentItem(results->topLevelItem(0));
                grab(d, "13-find");
                d->close();
            })
        .on("selectMailboxDialog", [](QWidget* d) { d->close(); });
    QTimer::singleShot(0, &w, [&w, archive] {
        SelectMailboxDialog dialog(
            &w, w.state(),
            [&w](const QString& t, mailbox::MessageIcon i, bool o) { return w.ask(t, i, o); }, {},
            {});
        dialog.searchRoots = [archive] {
            return std::vector<std::string>{ui::qt::fromQ(QFileInfo(archive).absolutePath())};
        };
        dialog.exec();
    });
    waitFor([&] { return find.done(); });

    ModalScript log;
    log.on("logReportDialog", [](QWidget* d) {
        // The end of the log: the save's rows below the scan's.
        d->findChild<QTreeWidget*>("logList")->scrollToBottom();
        grab(d, "14-log-report");
        ModalScript::click(d, "close");
    });
    w.showLogReport();

    QDir(scratch).removeRecursively();
    if (!chain.done() || !save.done() || !find.done() || !log.done()) {
        std::fprintf(stderr,
                     "not every window appeared (save chain %d, save %d, find %d, log %d left)\n",
                     chain.pending(), save.pending(), find.pending(), log.pending());
        ++g_failures;
    }
    return g_failures == 0 ? 0 : 1;
}
