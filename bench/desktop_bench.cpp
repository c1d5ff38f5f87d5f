// desktop_bench: the desktop application's interactive speeds, on the offscreen platform.
//
//   1. Listing a large folder (12,500, 25,000 and 50,000 mails): how long until the first rows
//      are shown, until all of them are, the time per row, and the longest the UI thread went
//      without handling its events meanwhile. A list that grows quadratically shows as a time
//      per row that doubles with the folder's size.
//   2. Previewing every item of the sample archive: the time from a row's selection until its
//      preview is shown (the preview job, its page, the reading pane), median, 90th percentile
//      and maximum.
//
//   QT_QPA_PLATFORM=offscreen desktop_bench [SAMPLE.olm|- [ROWS...]]
//
// Without an archive (or with "-") the sample is generated; ROWS replace the listing sizes.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "olmgen/olmgen.h"
#include "ui/qt/common.h"
#include "ui/qt/folder_tree_view.h"
#include "ui/qt/item_list_view.h"
#include "ui/qt/main_window.h"
#include "ui/qt/modal_script.h"
#include "ui/qt/reading_pane_widget.h"

using namespace parvelle;
using namespace parvelle::ui::qt;

namespace {

// The default is long enough for a listing of hundreds of thousands of rows on a slow machine.
bool waitFor(const std::function<bool()>& done, int milliseconds = 600000) {
    return processEventsUntil(done, milliseconds);
}

// Scans the archive as "Convert" does, answers the closing message, and waits for the first
// folder's listing and preview.
bool scan(MainWindow& w, const std::string& archive) {
    ModalScript script;
    script.on("messageBox", [](QWidget* box) { ModalScript::click(box, "ok"); });
    w.state().archivePath = archive;
    QTimer::singleShot(0, &w, [&w] { w.startScan(); });
    return waitFor([&] { return script.done(); }) &&
           waitFor([&] { return !w.jobRunning() && !w.readingPane()->lastPageFile().isEmpty(); });
}

void collectNodes(QTreeWidgetItem* item, std::vector<QTreeWidgetItem*>& out) {
    out.push_back(item);
    for (int i = 0; i < item->childCount(); ++i)
        collectNodes(item->child(i), out);
}

bool listing(const QString& folder, int mails) {
    olmgen::Account account;
    account.name = "bench";
    olmgen::MailFolder inbox{"Inbox", {}, {}};
    inbox.mails.reserve(static_cast<std::size_t>(mails));
    for (int i = 0; i < mails; ++i) {
        olmgen::Mail m;
        m.subject = "Listing row " + std::to_string(i);
        m.from = {"Sender " + std::to_string(i % 97), "sender@example.com"};
        m.to = {{"Reader", "reader@example.com"}};
        m.sentTime = "2021-05-06T07:08:09";
        m.body = "short body";
        inbox.mails.push_back(std::move(m));
    }
    account.mailFolders.push_back(std::move(inbox));
    olmgen::ArchiveDescription description;
    description.accounts.push_back(std::move(account));
    const std::string archive = fromQ(folder) + "/list-" + std::to_string(mails) + ".olm";
    if (!olmgen::writeArchive(description, archive).ok())
        return false;

    MainWindow w;
    w.resize(1280, 800);
    w.show();
    if (!scan(w, archive))
        return false;
    QTreeWidgetItem* root = w.folderTree()->topLevelItem(0);
    QTreeWidgetItem* node = findNode(root, "Inbox");
    if (node == nullptr)
        return false;
    // The scan listed the folder once; list it afresh with the clock running.
    w.folderTree()->setCurrentItem(root);
    waitFor([&] { return w.readingPane()->lastPageFile().isEmpty(); });

    ItemListView* list = w.itemList();
    QElapsedTimer clock;
    qint64 firstRows = -1;
    qint64 allRows = -1;
    qint64 longestGap = 0;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });
    const QMetaObject::Connection inserted =
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, [&] {
            if (firstRows < 0)
                firstRows = clock.elapsed();
            if (allRows < 0 && list->rowCount() == mails)
                allRows = clock.elapsed();
        });
    clock.start();
    ticker.start();
    w.folderTree()->setCurrentItem(node);
    const bool done = waitFor([&] { return allRows >= 0; });
    ticker.stop();
    QObject::disconnect(inserted);
    if (!done)
        return false;
    std::printf("listing %6d rows: first rows %5lld ms, all rows %6lld ms, %5.1f us/row, "
                "longest UI pause %4lld ms\n",
                mails, static_cast<long long>(firstRows), static_cast<long long>(allRows),
                1000.0 * static_cast<double>(allRows) / mails, static_cast<long long>(longestGap));
    std::fflush(stdout);
    return waitFor([&] { return !w.jobRunning(); });
}

bool previews(const std::string& archive) {
    MainWindow w;
    w.resize(1280, 800);
    w.show();
    if (!scan(w, archive))
        return false;
    std::vector<QTreeWidgetItem*> nodes;
    collectNodes(w.folderTree()->topLevelItem(0), nodes);
    std::vector<double> times;
    bool ended = false;
    QElapsedTimer clock;
    double elapsed = 0;
    QObject::connect(&w, &MainWindow::jobThreadEnded, [&] {
        elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        ended = true;
    });
    ItemListView* list = w.itemList();
    for (QTreeWidgetItem* node : nodes) {
        if (node == w.folderTree()->topLevelItem(0))
            continue;
        w.folderTree()->setCurrentItem(node);
        // The listing, then the first row's preview.
        waitFor([] { return false; }, 50);
        if (!waitFor([&] { return !w.jobRunning(); }))
            return false;
        waitFor([] { return false; }, 50);
        if (!waitFor([&] { return !w.jobRunning(); }))
            return false;
        for (int row = 0; row < list->rowCount(); ++row) {
            list->selectionModel()->clear();
            ended = false;
            clock.start();
            list->setCurrentItem(list->topLevelItem(row));
            if (!waitFor([&] { return ended && !w.jobRunning(); }, 60000))
                return false;
            times.push_back(elapsed);
            if (elapsed >= 50)
                std::printf("  slow preview: %s row %d, %.1f ms\n", qPrintable(node->text(0)), row,
                            elapsed);
        }
    }
    if (times.empty())
        return false;
    std::sort(times.begin(), times.end());
    const auto at = [&times](double q) {
        return times[std::min(times.size() - 1, static_cast<std::size_t>(q * times.size()))];
    };
    std::printf("preview %zu items of %s: median %.1f ms, 90%% %.1f ms, max %.1f ms\n",
                times.size(), archive.c_str(), at(0.5), at(0.9), times.back());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    initResources();
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    std::string sample = argc > 1 ? argv[1] : std::string("-");
    if (sample == "-") {
        sample = fromQ(work.path()) + "/sample.olm";
        if (!olmgen::writeArchive(olmgen::sampleDescription(), sample).ok())
            return 1;
    }
    std::vector<int> sizes = {12500, 25000, 50000};
    if (argc > 2) {
        sizes.clear();
        for (int i = 2; i < argc; ++i)
            sizes.push_back(std::max(1, std::atoi(argv[i])));
    }
    for (const int mails : sizes)
        if (!listing(work.path(), mails)) {
            std::fprintf(stderr, "listing %d rows failed\n", mails);
            return 1;
        }
    if (!previews(sample)) {
        std::fprintf(stderr, "previews failed\n");
        return 1;
    }
    return 0;
}
