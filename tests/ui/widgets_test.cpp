// The desktop application's widgets on the offscreen platform: scripted through their modal
// dialogs as a user would click them.
#include <QAction>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "olmgen/olmgen.h"
#include "temp_dir.h"
#include "ui/olm_search.h"
#include "ui/qt/bi_splitter.h"
#include "ui/qt/common.h"
#include "ui/qt/desktop_hooks.h"
#include "ui/qt/folder_tree_view.h"
#include "ui/qt/item_list_view.h"
#include "ui/qt/mailbox_dialogs.h"
#include "ui/qt/main_window.h"
#include "ui/qt/modal_script.h"
#include "ui/qt/progress_dialog.h"
#include "ui/qt/reading_pane_widget.h"
#include "ui/save_hook.h"
#include "ui/texts.h"

using namespace parvelle;
using namespace parvelle::ui::qt;
namespace fs = std::filesystem;

namespace {

olmgen::ArchiveDescription fixture() {
    olmgen::Account acct;
    acct.name = "acct";
    olmgen::Mail first;
    first.subject = "Budget <2024>";
    first.from = {"Ann", "ann@example.com"};
    first.to = {{"Bob", "bob@example.com"}};
    first.sentTime = "2020-02-03T04:05:06";
    first.htmlBody = "<p>Budget body <img src=\"http://tracker.example/p.png\"></p>";
    olmgen::Attachment a;
    a.name = "plan.pdf";
    a.extension = "pdf";
    a.content = "%PDF-1.4";
    first.attachments = {a};
    olmgen::Mail second;
    second.subject = "agenda";
    second.from = {"", "cid@example.com"};
    second.sentTime = "2020-01-01T10:00:00";
    acct.mailFolders.push_back({"Inbox", {first, second}, {}});
    olmgen::ItemFolder contacts;
    contacts.path = "Contacts";
    olmgen::Contact c;
    c.displayName = "Carl <Admin>";
    contacts.contacts = {c};
    acct.itemFolders.push_back(contacts);
    olmgen::ArchiveDescription d;
    d.accounts.push_back(acct);
    return d;
}

QString messageText(QWidget* box) {
    return box->findChild<QLabel*>("text")->text();
}

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private:
    parvelle::testing::TempDir dir_;
    QString archive_;
    std::vector<QUrl> opened_;
    QString nextSaveFile_;

    // Opens the archive through "Select Mailbox" and waits for the first preview.
    void scan(MainWindow& w) {
        ModalScript script;
        script
            .on("selectMailboxDialog",
                [](QWidget* d) {
                    ModalScript::click(d, "selectMailbox");
                    ModalScript::click(d, "convert");
                })
            .on("messageBox", [](QWidget* box) {
                QCOMPARE(messageText(box), QString(ui::texts::kScanSucceeded));
                ModalScript::click(box, "ok");
            });
        QTimer::singleShot(0, &w, [&w] { w.selectMailbox(); });
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!w.readingPane()->lastPageFile().isEmpty(), 20000);
        QTRY_VERIFY(!w.jobRunning());
    }

private slots:
    void initTestCase() {
        initResources();
        const fs::path path = dir_ / "mail.olm";
        QVERIFY(olmgen::writeArchive(fixture(), path).ok());
        archive_ = toQ(path.string());
        DesktopHooks& hooks = desktopHooks();
        hooks.openFile = [this](QWidget*, const QString&, const QString&) {
            return std::optional<QString>(archive_);
        };
        hooks.folder = [this](QWidget*, const QString&) {
            return std::optional<QString>(toQ(dir_.path().string()));
        };
        hooks.saveFile = [this](QWidget*, const QString&, const QString&) {
            return std::optional<QString>(nextSaveFile_);
        };
        hooks.openUrl = [this](const QUrl& url) {
            opened_.push_back(url);
            return true;
        };
    }

    void startsEmptyWithSaveAndLogDisabled() {
        MainWindow w;
        QCOMPARE(w.windowTitle(), QString("Parvelle"));
        QVERIFY(!w.action("actionSave")->isEnabled());
        QVERIFY(!w.action("actionLog")->isEnabled());
        QVERIFY(w.action("actionSelect")->isEnabled());
        QCOMPARE(w.folderTree()->topLevelItemCount(), 0);
    }

    void scanFillsTreeListAndPreview() {
        MainWindow w;
        w.resize(1000, 700);
        w.show();
        scan(w);
        QVERIFY(w.action("actionSave")->isEnabled());
        QVERIFY(w.action("actionLog")->isEnabled());
        QTreeWidgetItem* root = w.folderTree()->topLevelItem(0);
        QCOMPARE(root->text(0), archive_);
        QCOMPARE(root->checkState(0), Qt::Checked);
        QCOMPARE(root->child(0)->text(0), QString("acct"));
        // The default folder (Inbox) was listed and its first row previewed.
        QCOMPARE(w.folderTree()->currentItem()->text(0), QString("Inbox"));
        QCOMPARE(w.itemList()->rowCount(), 2);
        QCOMPARE(w.statusPane(2)->text(), QString("Total Items:2"));
        const ui::ReadingPaneView& view = w.readingPane()->view();
        QCOMPARE(QString::fromStdString(view.subject), QString("Budget _2024_"));
        QCOMPARE(w.readingPane()->attachmentList()->count(), 1);
        QVERIFY(w.readingPane()->browser()->toPlainText().contains("Budget body"));
        // The tracking picture was never fetched.
        QVERIFY(w.readingPane()->browser()->refusedCount() > 0);
        QCOMPARE(w.rightSplitter()->layoutRule().reference(), 150);

        // The attachment was extracted into the private working folder and opens from there.
        w.readingPane()->openAttachment(0);
        QCOMPARE(opened_.size(), std::size_t(1));
        QVERIFY(opened_.back().toLocalFile().startsWith(toQ(w.workFolder())));
        QVERIFY(QFile::exists(opened_.back().toLocalFile()));

        // Second row, then a contact: its page escapes the name.
        w.itemList()->setCurrentItem(w.itemList()->topLevelItem(1));
        QTRY_COMPARE(QString::fromStdString(w.readingPane()->view().subject), QString("agenda"));
        QTreeWidgetItem* contacts = nullptr;
        for (int i = 0; i < root->child(0)->childCount(); ++i)
            if (root->child(0)->child(i)->text(0) == "Contacts")
                contacts = root->child(0)->child(i);
        QVERIFY(contacts != nullptr);
        w.folderTree()->setCurrentItem(contacts);
        QTRY_VERIFY_WITH_TIMEOUT(w.readingPane()->browser()->toPlainText().contains("Carl <Admin>"),
                                 60000); // generous: sanitizer builds on a loaded machine are slow
        QTRY_VERIFY(!w.jobRunning());

        // Selecting the root empties the reading pane and keeps the list.
        w.folderTree()->setCurrentItem(root);
        QTRY_VERIFY(w.readingPane()->browser()->toPlainText().isEmpty());
        QCOMPARE(w.itemList()->rowCount(), 1);
    }

    void checkBoxesAndSaveWithNothingChecked() {
        MainWindow w;
        w.resize(1000, 700);
        w.show();
        scan(w);
        FolderTreeView* tree = w.folderTree();
        const mailbox::TreeItem root = w.state().rootItem;
        QTreeWidgetItem* current = tree->currentItem();
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->checkRect(root).center());
        QCOMPARE(tree->topLevelItem(0)->checkState(0), Qt::Unchecked);
        QCOMPARE(tree->topLevelItem(0)->child(0)->checkState(0), Qt::Unchecked);
        QCOMPARE(tree->currentItem(), current); // a check click does not select
        // Checking one folder checks its account and the root again.
        const mailbox::TreeItem inbox = tree->nodeOf(current);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->checkRect(inbox).center());
        QCOMPARE(tree->topLevelItem(0)->checkState(0), Qt::Checked);
        QCOMPARE(tree->topLevelItem(0)->child(0)->checkState(0), Qt::Checked);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->checkRect(root).center());

        ModalScript script;
        script.on("messageBox", [](QWidget* box) {
            QCOMPARE(messageText(box), QString(ui::texts::kNoMailboxSelected));
            ModalScript::click(box, "ok");
        });
        w.saveMailbox();
        QVERIFY(script.done());
    }

    void sortingSharesOneDirection() {
        MainWindow w;
        w.resize(1000, 700);
        w.show();
        scan(w);
        ItemListView* list = w.itemList();
        auto subjects = [list] {
            QString s;
            for (int i = 0; i < list->rowCount(); ++i)
                s += list->topLevelItem(i)->text(3) + "|";
            return s;
        };
        const int subject = list->header()->logicalIndex(3);
        list->header()->sectionClicked(subject);
        QCOMPARE(subjects(), QString("agenda|Budget _2024_|"));
        list->header()->sectionClicked(subject);
        QCOMPARE(subjects(), QString("Budget _2024_|agenda|"));
        list->header()->sectionClicked(4); // date, ascending again
        QCOMPARE(subjects(), QString("agenda|Budget _2024_|"));
        QCOMPARE(list->header()->sortIndicatorSection(), 4);
    }

    void saveDialogsValidate() {
        MainWindow w;
        w.show();
        scan(w);
        ui::setSaveJobBody({});
        ModalScript script;
        script
            .on("formatDialog",
                [](QWidget* d) {
                    d->findChild<QRadioButton*>("format1")->setChecked(true); // .MSG
                    ModalScript::click(d, "ok");
                })
            .on("fileExportDialog",
                [](QWidget* d) {
                    QVERIFY(!d->findChild<QPushButton*>("ok")->isEnabled());
                    ModalScript::click(d, "browse");
                    QVERIFY(d->findChild<QPushButton*>("ok")->isEnabled());
                    ModalScript::click(d, "ok");
                })
            .on("messageBox",
                [](QWidget* box) {
                    QCOMPARE(messageText(box), QString(ui::texts::kSaveUnavailable));
                    ModalScript::click(box, "ok");
                })
            .on("formatDialog",
                [](QWidget* d) {
                    d->findChild<QRadioButton*>("format6")->setChecked(true); // Office 365
                    ModalScript::click(d, "ok");
                })
            .on("office365Dialog",
                [](QWidget* d) {
                    d->findChild<QLineEdit*>("password")->setText("pw");
                    ModalScript::click(d, "ok");
                })
            .on("messageBox",
                [](QWidget* box) {
                    QCOMPARE(messageText(box), QString(ui::texts::kEnterOffice365Id));
                    ModalScript::click(box, "ok");
                })
            .on("office365Dialog", [](QWidget* d) { d->close(); });
        w.saveMailbox();
        QVERIFY(fs::is_directory(w.state().destinationPath));
        QVERIFY(w.state().destinationPath.find("Converted Data(") != std::string::npos);
        fs::remove(w.state().destinationPath);
        w.saveMailbox();
        QVERIFY(script.done());
        QCOMPARE(w.state().office365Password, std::string("pw"));
    }

    void stopAsksAndEndsTheJob() {
        MainWindow w;
        w.show();
        scan(w);
        std::atomic<int> loops{0};
        ui::setSaveJobBody([&w, &loops](mailbox::MailboxConverter&) {
            w.state().progressMode = mailbox::ProgressMode::Saving;
            while (w.state().stopRequested.load() == 0) {
                ++loops;
                w.send(mailbox::Notification::Progress, 0, nullptr);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        ModalScript script;
        script
            .on("formatDialog",
                [](QWidget* d) {
                    d->findChild<QRadioButton*>("format2")->setChecked(true); // .EML
                    ModalScript::click(d, "ok");
                })
            .on("fileExportDialog",
                [](QWidget* d) {
                    ModalScript::click(d, "browse");
                    ModalScript::click(d, "ok");
                })
            .on("progressDialog",
                [](QWidget* d) {
                    QVERIFY(d->findChild<QPushButton*>("stop")->isVisible());
                    ModalScript::click(d, "stop");
                })
            .on("messageBox",
                [&loops](QWidget* box) {
                    QCOMPARE(messageText(box), QString(ui::texts::kStopQuestion));
                    const int before = loops.load();
                    QTRY_VERIFY(loops.load() >
                                before); // the job runs on while the question is open
                    ModalScript::click(box, "no");
                })
            .on("progressDialog", [](QWidget* d) { ModalScript::click(d, "stop"); })
            .on("messageBox", [](QWidget* box) { ModalScript::click(box, "yes"); });
        w.saveMailbox();
        QVERIFY(script.done());
        QVERIFY(!w.jobRunning());
        QVERIFY(w.action("actionSave")->isEnabled());
        ui::setSaveJobBody({});
        fs::remove(w.state().destinationPath);
    }

    void logReportSavesAndClears() {
        MainWindow w;
        w.show();
        scan(w);
        nextSaveFile_ = toQ((dir_ / "scan-log").string());
        ModalScript script;
        script
            .on("logReportDialog",
                [](QWidget* d) {
                    auto* list = d->findChild<QTreeWidget*>("logList");
                    QCOMPARE(list->topLevelItem(0)->text(0), QString("Parvelle"));
                    ModalScript::click(d, "saveLog");
                })
            .on("messageBox",
                [](QWidget* box) {
                    QCOMPARE(messageText(box), QString(ui::texts::kLogSaved));
                    ModalScript::click(box, "ok");
                })
            .on("logReportDialog", [](QWidget* d) {
                ModalScript::click(d, "clearLog");
                QVERIFY(!d->findChild<QPushButton*>("saveLog")->isEnabled());
                ModalScript::click(d, "close");
            });
        w.showLogReport();
        QVERIFY(script.done());
        std::ifstream in(dir_ / "scan-log.txt", std::ios::binary);
        std::string first;
        std::getline(in, first);
        QCOMPARE(QString::fromStdString(first), QString("Parvelle\r"));
        QCOMPARE(w.state().log.size(), std::size_t(0));
        QVERIFY(w.action("actionLog")->isEnabled());
    }

    void findDialogSearchesAndChooses() {
        MainWindow w;
        ModalScript script;
        QString chosen;
        bool convertEnabled = false;
        script.on("selectMailboxDialog", [](QWidget* d) { ModalScript::click(d, "findMailbox"); })
            .on("findDialog", [](QWidget* d) { ModalScript::click(d, "find"); })
            .on("messageBox",
                [](QWidget* box) {
                    QCOMPARE(messageText(box), QString("Total 1 File(s) Found."));
                    ModalScript::click(box, "ok");
                })
            .on("findDialog",
                [](QWidget* d) {
                    auto* results = d->findChild<QTreeWidget*>("results");
                    QCOMPARE(results->topLevelItemCount(), 1);
                    const QString path = results->topLevelItem(0)->text(0);
                    QCOMPARE(results->topLevelItem(0)->text(1),
                             toQ(ui::sizeText(static_cast<std::uint64_t>(QFileInfo(path).size()))));
                    QVERIFY(!d->findChild<QPushButton*>("ok")->isEnabled());
                    results->setCurrentItem(results->topLevelItem(0));
                    QVERIFY(d->findChild<QPushButton*>("ok")->isEnabled());
                    ModalScript::click(d, "ok");
                })
            .on("selectMailboxDialog", [&](QWidget* d) {
                chosen = d->findChild<QLineEdit*>("path")->text();
                convertEnabled = d->findChild<QPushButton*>("convert")->isEnabled();
                d->close();
            });
        SelectMailboxDialog dialog(
            &w, w.state(),
            [&w](const QString& t, mailbox::MessageIcon i, bool o) { return w.ask(t, i, o); }, {},
            {});
        dialog.searchRoots = [this] { return std::vector<std::string>{dir_.path().string()}; };
        dialog.exec();
        QVERIFY(script.done());
        QCOMPARE(chosen, archive_);
        QVERIFY(convertEnabled);
        QVERIFY(!dialog.convertChosen());
    }

    void helpAndWebPages() {
        const fs::path config = dir_ / "config";
        fs::create_directories(config / "parvelle");
        std::ofstream(config / "parvelle" / "parvelle.conf") << "VSS = https://support.example/\n";
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.string()));
        MainWindow w;
        qunsetenv("XDG_CONFIG_HOME");
        opened_.clear();
        w.action("actionSupport")->trigger();
        w.action("actionKnowledgebase")->trigger(); // not set: opens nothing
        w.action("actionHelp")->trigger();
        QCOMPARE(opened_.size(), std::size_t(2));
        QCOMPARE(opened_[0], QUrl("https://support.example/"));
        QVERIFY(opened_[1].toLocalFile().endsWith("user-guide.md"));
        QVERIFY(QFile::exists(opened_[1].toLocalFile()));
    }

    void exitAsksFirst() {
        MainWindow w;
        w.show();
        scan(w);
        ModalScript script;
        script.on("messageBox", [](QWidget* box) {
            QCOMPARE(messageText(box), QString(ui::texts::kExitQuestion));
            ModalScript::click(box, "no");
        });
        QVERIFY(!w.close());
        QVERIFY(script.done());
        QVERIFY(w.isVisible());
        QCOMPARE(w.itemList()->rowCount(), 2);
        const std::string work = w.workFolder();
        ModalScript yes;
        yes.on("messageBox", [](QWidget* box) { ModalScript::click(box, "yes"); });
        QVERIFY(w.close());
        QVERIFY(!fs::exists(fs::path(work) / "Attachments" / "plan.pdf"));
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
