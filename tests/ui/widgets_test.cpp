// The desktop application's widgets on the offscreen platform: scripted through their modal
// dialogs as a user would click them.
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "olmgen/olmgen.h"
#include "store/pst/checker.h"
#include "store/pst/inspect.h"
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

// The main window, with a look at each notification a job sends, on the job's thread before the
// window handles it: the tests hold a job there, or act at a chosen point of it.
class WatchedWindow : public MainWindow {
public:
    std::function<void(mailbox::Notification)> beforeSend;
    void send(mailbox::Notification n, std::int64_t wParam, const void* lParam) override {
        if (beforeSend)
            beforeSend(n);
        MainWindow::send(n, wParam, lParam);
    }
};

// Replaces the save job's body for one test, and puts the real one back after it.
class SaveBodyOverride {
public:
    explicit SaveBodyOverride(ui::SaveJobBody body) { ui::setSaveJobBody(std::move(body)); }
    ~SaveBodyOverride() { ui::setSaveJobBody(saved_); }
    SaveBodyOverride(const SaveBodyOverride&) = delete;
    SaveBodyOverride& operator=(const SaveBodyOverride&) = delete;

private:
    ui::SaveJobBody saved_ = ui::saveJobBody();
};

// Waits on the calling (job) thread until `done` holds; false after a minute.
bool waitOnJobThread(const std::function<bool()>& done) {
    for (int i = 0; i < 60000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

void clickCheckBox(FolderTreeView* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->checkRect(tree->nodeOf(item)).center());
}

// The folder's path in a PST that holds one account ("/Inbox/Projects").
std::string pstPathOf(const olmgen::ArchiveFacts& facts, const std::string& key) {
    std::map<std::string, const olmgen::FolderFacts*> byKey;
    for (const auto& f : facts.folders)
        byKey[f.key] = &f;
    std::string path;
    for (auto it = byKey.find(key); it != byKey.end() && !it->second->isAccount;
         it = byKey.find(it->second->parentKey))
        path = "/" + it->second->name + path;
    return path;
}

// Item counts by folder path of a PST file our reader reads back, after the checker has found
// nothing wrong with it.
std::map<std::string, std::uint64_t> readBackPst(const std::string& path) {
    const std::string violations = [&path] {
        auto db = pst::NodeDatabase::open(path);
        if (!db)
            return db.error();
        const pst::CheckReport report = pst::checkStore(*db);
        return report.clean() ? std::string() : pst::reportToText(path, report);
    }();
    if (!violations.empty()) {
        qWarning("%s", violations.c_str());
        return {};
    }
    auto reader = pst::PstReader::open(path);
    if (!reader)
        return {};
    auto summary = pst::inspectStore(*reader, true);
    if (!summary || !summary->problems.empty())
        return {};
    std::map<std::string, std::uint64_t> counts;
    for (const pst::FolderSummary& folder : summary->folders)
        counts[folder.path] = folder.items;
    return counts;
}

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private:
    parvelle::testing::TempDir dir_;
    QString archive_;
    QString openNext_;
    QString nextFolder_;
    std::vector<QUrl> opened_;
    QString nextSaveFile_;

    // Opens the archive (by default the small fixture) through "Select Mailbox" and waits for
    // the first preview.
    void scan(MainWindow& w, const QString& archive = {}) {
        openNext_ = archive.isEmpty() ? archive_ : archive;
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
        nextFolder_ = toQ(dir_.path().string());
        DesktopHooks& hooks = desktopHooks();
        hooks.openFile = [this](QWidget*, const QString&, const QString&) {
            return std::optional<QString>(openNext_);
        };
        hooks.folder = [this](QWidget*, const QString&) {
            return std::optional<QString>(nextFolder_);
        };
        hooks.saveFile = [this](QWidget*, const QString&, const QString&) {
            return std::optional<QString>(nextSaveFile_);
        };
        hooks.openUrl = [this](const QUrl& url) {
            opened_.push_back(url);
            return true;
        };
    }

    // Every picture is drawn from its vector source at the screen's density: at three device
    // pixels per point a 16-point icon has 48 pixels a side, not an enlarged 16-pixel bitmap.
    // The folder pictures are 13 different drawings.
    void iconsAreDrawnAtTheScreensDensity() {
        std::vector<std::pair<QString, QIcon>> icons;
        for (int i = 0; i < 13; ++i)
            icons.emplace_back(QStringLiteral("folder %1").arg(i), folderIcon(i));
        for (const char* name : {"tb_select", "tb_save", "tb_help", "tb_about", "tb_log", "clip",
                                 "file", "msg_information", "msg_question", "msg_error", "app"})
            icons.emplace_back(QString::fromLatin1(name), svgIcon(QString::fromLatin1(name)));
        std::set<QByteArray> folderPictures;
        for (const auto& [name, icon] : icons) {
            const QImage image =
                icon.pixmap(QSize(16, 16), 3.0).toImage().convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(image.size() == QSize(48, 48), qPrintable(name));
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
            QVERIFY2(opaque > 48, qPrintable(name)); // a drawing, not an empty picture
            if (name.startsWith("folder "))
                folderPictures.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()),
                                                 image.sizeInBytes()));
        }
        QCOMPARE(folderPictures.size(), std::size_t(13));
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

    // A listing's rows reach the view in batches, in their order; adding them selects row 0
    // without starting its preview, which waits for the end of the listing.
    void listShowsAddedRowsInBatches() {
        ItemListView list;
        list.resize(600, 300);
        list.show();
        // Focus reaching a list with rows makes its first row current, which is not what is
        // tested here.
        QVERIFY(QTest::qWaitForWindowActive(&list));
        int insertions = 0;
        connect(list.model(), &QAbstractItemModel::rowsInserted, [&insertions] { ++insertions; });
        QSignalSpy previews(&list, &ItemListView::previewRequested);
        constexpr int kRows = 2000;
        for (int i = 0; i < kRows; ++i) {
            mailbox::RecoveredOlmHeaderData record;
            record.subject = "row " + std::to_string(i);
            list.addRow(record);
        }
        QTRY_COMPARE(list.rowCount(), kRows);
        QVERIFY(insertions < kRows / 10);
        for (int i = 0; i < kRows; ++i)
            QCOMPARE(list.recordAt(i)->subject, "row " + std::to_string(i));
        QCOMPARE(list.topLevelItem(kRows - 1)->text(3), QString("row %1").arg(kRows - 1));
        QVERIFY(list.topLevelItem(0)->isSelected());
        QCOMPARE(previews.count(), 0);
        list.selectFirstRow();
        QCOMPARE(previews.count(), 1);
        QCOMPARE(previews.at(0).at(0).toInt(), 0);
        list.removeAll();
        list.addRow({});
        list.removeAll(); // a row still waiting for its batch goes too
        QTest::qWait(100);
        QCOMPARE(list.rowCount(), 0);
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
        const SaveBodyOverride noSave{ui::SaveJobBody()};
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
        const SaveBodyOverride endless([&w, &loops](mailbox::MailboxConverter&) {
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
        fs::remove(w.state().destinationPath);
    }

    // The whole save as a user goes through it: the sample archive scanned, two folders of one
    // account checked, the save chain to a new PST per mailbox, the modal progress box, the
    // closing message and the log. The PST file is then checked and read back.
    void saveFlowWritesTheCheckedFoldersToANewPst() {
        const parvelle::testing::TempDir archives; // not where the find test searches
        const fs::path sample = archives / "sample.olm";
        const olmgen::WriteResult written =
            olmgen::writeArchive(olmgen::sampleDescription(), sample);
        QVERIFY(written.ok());
        WatchedWindow w;
        w.resize(1000, 700);
        w.show();
        scan(w, toQ(sample.string()));

        FolderTreeView* tree = w.folderTree();
        QTreeWidgetItem* root = tree->topLevelItem(0);
        const QString account = "jane.doe@example.com";
        QTreeWidgetItem* jane = findNode(root, account);
        QVERIFY(jane != nullptr);
        QTreeWidgetItem* inbox = findNode(jane, "Inbox");
        QTreeWidgetItem* contacts = findNode(jane, "Contacts");
        QVERIFY(inbox != nullptr && contacts != nullptr);
        clickCheckBox(tree, root);
        clickCheckBox(tree, inbox); // with its subfolders, and the account and archive above
        clickCheckBox(tree, contacts);
        QCOMPARE(root->checkState(0), Qt::Checked);
        QCOMPARE(jane->checkState(0), Qt::Checked);
        QCOMPARE(findNode(root, "kenji.sato@example.jp")->checkState(0), Qt::Unchecked);
        QCOMPARE(findNode(jane, "Sent Items")->checkState(0), Qt::Unchecked);

        // What the PST must hold: the items of the checked folders, by folder path.
        std::map<std::string, std::uint64_t> expected;
        const std::string prefix = fromQ(account) + "/";
        for (const olmgen::FolderFacts& folder : written.facts.folders) {
            const std::string path = pstPathOf(written.facts, folder.key);
            if (folder.key.rfind(prefix, 0) == 0 &&
                (path == "/Contacts" || path == "/Inbox" || path.rfind("/Inbox/", 0) == 0))
                expected[path] = 0;
        }
        for (const olmgen::ItemFacts& item : written.facts.items) {
            const std::string path = pstPathOf(written.facts, item.folderKey);
            if (item.folderKey.rfind(prefix, 0) == 0 && expected.count(path) != 0)
                ++expected[path];
        }
        QVERIFY(expected.size() >= 4); // Inbox, two levels below it, Contacts
        std::int64_t expectedItems = 0;
        for (const auto& [path, count] : expected)
            expectedItems += static_cast<std::int64_t>(count);

        const fs::path out = dir_ / "save-flow";
        fs::create_directories(out);
        nextFolder_ = toQ(out.string());
        // The job waits at its second progress step until the progress box has been looked at.
        std::atomic<int> savingSteps{0};
        std::atomic<bool> progressSeen{false};
        w.beforeSend = [&](mailbox::Notification n) {
            if (n == mailbox::Notification::Progress &&
                w.state().progressMode.load() == mailbox::ProgressMode::Saving &&
                ++savingSteps >= 2)
                waitOnJobThread([&] { return progressSeen.load(); });
        };
        ModalScript script;
        script
            .on("formatDialog",
                [](QWidget* d) {
                    QVERIFY(d->findChild<QRadioButton*>("format0")->isChecked()); // .PST
                    ModalScript::click(d, "ok");
                })
            .on("newPstDialog",
                [](QWidget* d) {
                    QVERIFY(!d->findChild<QPushButton*>("ok")->isEnabled());
                    QVERIFY(d->findChild<QRadioButton*>("perMailbox")->isChecked());
                    ModalScript::click(d, "browse");
                    QVERIFY(d->findChild<QPushButton*>("ok")->isEnabled());
                    ModalScript::click(d, "ok");
                })
            .on("progressDialog",
                [&](QWidget* d) {
                    QVERIFY(d->isModal());
                    QVERIFY(d->findChild<QPushButton*>("stop")->isVisible());
                    QTRY_VERIFY(d->findChild<QLabel*>("line1")->text().contains(account));
                    progressSeen = true;
                })
            .on("saveCompleteDialog", [](QWidget* d) {
                QVERIFY(d->findChild<QLabel*>("link")->isVisible());
                ModalScript::click(d, "ok");
            });
        w.saveMailbox();
        progressSeen = true; // never leave the job waiting, even when a step above failed
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), 60000);
        QTRY_VERIFY(!w.jobRunning());
        QVERIFY(w.action("actionSave")->isEnabled());

        QCOMPARE(w.state().savedStores.size(), std::size_t(1));
        const std::string pstFile = w.state().savedStores.front();
        QCOMPARE(fs::path(pstFile).filename().string(), fromQ(account) + ".pst");
        QCOMPARE(w.state().itemsSaved.load(), expectedItems);
        QCOMPARE(w.state().itemsFailed.load(), std::int64_t(0));
        const std::map<std::string, std::uint64_t> counts = readBackPst(pstFile);
        QVERIFY(!counts.empty());
        for (const auto& [path, count] : expected) {
            QVERIFY2(counts.count(path) != 0, path.c_str());
            QCOMPARE(counts.at(path), count);
        }
        for (const auto& [path, count] : counts)
            QVERIFY2(count == 0 || expected.count(path) != 0, path.c_str());
        std::size_t pstFiles = 0;
        for (const auto& entry : fs::recursive_directory_iterator(out))
            pstFiles += entry.path().extension() == ".pst" ? 1 : 0;
        QCOMPARE(pstFiles, std::size_t(1)); // the unchecked accounts got none

        // The log report lists the save with each folder converted.
        QStringList converted;
        bool timesLogged = false;
        ModalScript log;
        log.on("logReportDialog", [&](QWidget* d) {
            auto* list = d->findChild<QTreeWidget*>("logList");
            bool saving = false;
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* row = list->topLevelItem(i);
                saving = saving || row->text(0) == "Saving Start Time:";
                if (saving && row->text(2) == "Converted")
                    converted << row->text(1);
                timesLogged = timesLogged || row->text(0) == "Saving Completed Time:";
            }
            ModalScript::click(d, "close");
        });
        w.showLogReport();
        QVERIFY(log.done());
        QVERIFY(timesLogged);
        for (const QString folder : {"Inbox", "Projects", "Contacts"})
            QVERIFY2(converted.contains(folder), qPrintable(folder));
        QVERIFY(!converted.contains("Sent Items"));
    }

    // "Exit" in the middle of a save: the save stops, its PST is closed consistently before the
    // window goes, and holds the items written until then; nothing else is shown.
    void exitDuringSaveLeavesAConsistentPst() {
        olmgen::Account acct;
        acct.name = "acct";
        olmgen::MailFolder inbox{"Inbox", {}, {}};
        for (int i = 0; i < 40; ++i) {
            olmgen::Mail m;
            m.subject = "mail " + std::to_string(i);
            m.from = {"Ann", "ann@example.com"};
            m.sentTime = "2020-02-03T04:05:06";
            m.body = "body " + std::to_string(i);
            inbox.mails.push_back(m);
        }
        acct.mailFolders.push_back(inbox);
        olmgen::ArchiveDescription description;
        description.accounts.push_back(acct);
        const parvelle::testing::TempDir archives;
        const fs::path archive = archives / "forty.olm";
        QVERIFY(olmgen::writeArchive(description, archive).ok());

        WatchedWindow w;
        w.show();
        scan(w, toQ(archive.string()));
        const fs::path out = dir_ / "exit-during-save";
        fs::create_directories(out);
        nextFolder_ = toQ(out.string());
        const std::string work = w.workFolder();

        // After the tenth item the user exits; the job goes on only once the exit was confirmed.
        constexpr std::int64_t kBeforeExit = 10;
        std::atomic<bool> exitAsked{false};
        w.beforeSend = [&](mailbox::Notification n) {
            if (n != mailbox::Notification::Progress || w.state().itemsSaved.load() < kBeforeExit ||
                exitAsked.exchange(true))
                return;
            QMetaObject::invokeMethod(
                &w, [&w] { w.close(); }, Qt::QueuedConnection);
            waitOnJobThread([&] { return w.state().stopRequested.load() != 0; });
        };
        ModalScript script;
        script.on("formatDialog", [](QWidget* d) { ModalScript::click(d, "ok"); })
            .on("newPstDialog",
                [](QWidget* d) {
                    ModalScript::click(d, "browse");
                    ModalScript::click(d, "ok");
                })
            .on("messageBox", [](QWidget* box) {
                QCOMPARE(messageText(box), QString(ui::texts::kExitQuestion));
                ModalScript::click(box, "yes");
            });
        w.saveMailbox();
        QTRY_VERIFY_WITH_TIMEOUT(script.done(), 60000);
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(!w.jobRunning());
        // Neither the end-of-save message nor "Process aborted" appears after the exit.
        QTest::qWait(300);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(!fs::exists(fs::path(work) / "preview"));

        QCOMPARE(w.state().savedStores.size(), std::size_t(1));
        const std::int64_t saved = w.state().itemsSaved.load();
        QVERIFY(saved >= kBeforeExit);
        QVERIFY(saved < 40);
        const std::map<std::string, std::uint64_t> counts =
            readBackPst(w.state().savedStores.front());
        QVERIFY(counts.count("/Inbox") != 0);
        QCOMPARE(counts.at("/Inbox"), static_cast<std::uint64_t>(saved));
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
