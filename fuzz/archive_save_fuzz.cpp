// The whole save on archives of arbitrary content: an account and a mail folder of arbitrary
// names holding mails, and contacts, events, tasks and notes, all with arbitrary field values,
// written as an OLM archive, scanned, and saved into one PST file per account as the command
// line's convert does.
//
// Every item must be saved (none of these values is a reason to fail one), and every PST file
// written must pass the checker without a finding and read back whole.
#include "fuzz_checks.h"
#include "mailbox/job_frontend.h"
#include "mailbox/job_state.h"
#include "mailbox/progress_job.h"
#include "olmgen/olmgen.h"
#include "store/pst/checker.h"
#include "store/pst/inspect.h"
#include "store/pst/reader_messaging.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace parvelle;
namespace fs = std::filesystem;
using fuzz::fail;

// A date the readers take now and then, else whatever the input holds.
std::string date(FuzzedDataProvider& in) {
    return in.ConsumeBool()
               ? "2026-03-0" + std::to_string(in.ConsumeIntegralInRange(1, 9)) + "T10:00:00"
               : in.ConsumeRandomLengthString(24);
}

olmgen::Mail mail(FuzzedDataProvider& in) {
    olmgen::Mail m;
    m.subject = in.ConsumeRandomLengthString(200);
    m.from = {in.ConsumeRandomLengthString(40), in.ConsumeRandomLengthString(40)};
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
        m.to.push_back({in.ConsumeRandomLengthString(40), in.ConsumeRandomLengthString(40)});
    m.sentTime = date(in);
    m.receivedTime = date(in);
    m.priority = in.ConsumeIntegralInRange(0, 6);
    m.isRead = in.ConsumeBool();
    m.body = in.ConsumeRandomLengthString(1000);
    if (in.ConsumeBool())
        m.htmlBody = in.ConsumeRandomLengthString(1000);
    for (int n = in.ConsumeIntegralInRange(0, 2); n > 0; --n) {
        olmgen::Attachment a;
        a.name = in.ConsumeRandomLengthString(60);
        a.extension = in.ConsumeRandomLengthString(8);
        a.contentType = in.ConsumeRandomLengthString(20);
        a.content = in.ConsumeRandomLengthString(2000);
        m.attachments.push_back(std::move(a));
    }
    return m;
}

olmgen::ItemFolder items(FuzzedDataProvider& in) {
    olmgen::ItemFolder f;
    f.path = in.ConsumeBool() ? "Calendar" : "Contacts";
    if (in.ConsumeBool()) {
        olmgen::Contact c;
        c.displayName = in.ConsumeRandomLengthString(40);
        c.firstName = in.ConsumeRandomLengthString(20);
        c.lastName = in.ConsumeRandomLengthString(20);
        c.company = in.ConsumeRandomLengthString(20);
        c.emails.push_back({in.ConsumeRandomLengthString(40)});
        c.businessPhone = in.ConsumeRandomLengthString(20);
        c.birthday = date(in);
        c.notes = in.ConsumeRandomLengthString(200);
        f.contacts.push_back(std::move(c));
    }
    if (in.ConsumeBool()) {
        olmgen::Event e;
        e.summary = in.ConsumeRandomLengthString(60);
        e.organizer = in.ConsumeRandomLengthString(40);
        e.attendees.push_back({in.ConsumeRandomLengthString(30), in.ConsumeRandomLengthString(30),
                               in.ConsumeIntegralInRange(0, 4), in.ConsumeIntegralInRange(0, 6),
                               in.ConsumeBool()});
        e.startTime = date(in);
        e.endTime = date(in);
        e.location = in.ConsumeRandomLengthString(40);
        e.description = in.ConsumeRandomLengthString(300);
        e.timeZone = in.ConsumeBool() ? "UTC" : in.ConsumeRandomLengthString(30);
        e.allDay = in.ConsumeBool();
        e.hasReminder = in.ConsumeBool();
        e.reminderDelta = in.ConsumeIntegral<int>();
        if (in.ConsumeBool()) {
            olmgen::Recurrence r;
            r.patternType = in.ConsumeBool() ? "Weekly" : in.ConsumeRandomLengthString(12);
            r.interval = in.ConsumeIntegral<int>();
            r.startDate = date(in);
            r.endDate = in.ConsumeBool() ? "" : date(in);
            r.occurrences = in.ConsumeIntegralInRange(0, 1000);
            r.days = {in.ConsumeBool() ? "monday" : in.ConsumeRandomLengthString(10)};
            r.dayOfMonth = in.ConsumeIntegralInRange(0, 40);
            r.month = in.ConsumeIntegralInRange(0, 14);
            e.recurrence = r;
        }
        f.events.push_back(std::move(e));
    }
    if (in.ConsumeBool()) {
        olmgen::Task t;
        t.name = in.ConsumeRandomLengthString(60);
        t.note = in.ConsumeRandomLengthString(200);
        t.startDateTime = date(in);
        t.dueDateTime = date(in);
        t.completedDateTime = in.ConsumeBool() ? "" : date(in);
        t.reminderTime = in.ConsumeBool() ? "" : date(in);
        t.priority = in.ConsumeIntegralInRange(0, 6);
        f.tasks.push_back(std::move(t));
    }
    if (in.ConsumeBool()) {
        olmgen::Note n;
        n.title = in.ConsumeRandomLengthString(60);
        n.text = in.ConsumeRandomLengthString(300);
        n.creationDate = date(in);
        f.notes.push_back(std::move(n));
    }
    return f;
}

// A folder or account name as the archive can hold it: one non-empty path component.
std::string pathComponent(FuzzedDataProvider& in) {
    std::string name = in.ConsumeRandomLengthString(40);
    for (char& c : name)
        if (c == '/')
            c = '_';
    return name.empty() ? "a" : name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "archive_save_fuzz.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            fail("no temporary folder");
        return fs::path(pattern);
    }();
    FuzzedDataProvider in(data, size);
    olmgen::Account account;
    account.name = pathComponent(in);
    olmgen::MailFolder folder;
    folder.name = pathComponent(in);
    for (int n = in.ConsumeIntegralInRange(1, 2); n > 0; --n)
        folder.mails.push_back(mail(in));
    account.mailFolders.push_back(std::move(folder));
    account.itemFolders.push_back(items(in));
    olmgen::ArchiveDescription description;
    description.accounts.push_back(std::move(account));

    std::error_code ec;
    fs::remove_all(root / "out", ec);
    fs::create_directories(root / "out");
    const fs::path archive = root / "archive.olm";
    const olmgen::WriteResult written = olmgen::writeArchive(description, archive);
    if (!written.ok())
        return 0; // a description the generator cannot write (a name it cannot put in a path)

    mailbox::JobState state;
    mailbox::JobFrontEnd ui;
    state.archivePath = archive.string();
    mailbox::ProgressJob(state, ui, mailbox::JobKind::Scan).run();
    state.saveFormat = mailbox::SaveFormat::Pst;
    state.destinationPath = (root / "out").string();
    state.newPst = 1;
    state.pstPerMailbox = 1;
    mailbox::ProgressJob(state, ui, mailbox::JobKind::Save).run();
    if (state.itemsFailed != 0)
        fail("items failed", std::to_string(state.itemsFailed.load()));
    if (state.itemsSaved != static_cast<std::int64_t>(written.facts.items.size()))
        fail("items not saved", std::to_string(state.itemsSaved.load()) + " of " +
                                    std::to_string(written.facts.items.size()));

    for (const auto& entry : fs::directory_iterator(root / "out")) {
        auto reader = pst::PstReader::open(entry.path().string());
        if (!reader)
            fail("PST file unreadable", reader.error());
        const pst::CheckReport report = pst::checkStore(reader->ndb());
        if (!report.clean())
            fail("checker findings", pst::reportToText(entry.path().string(), report));
        const auto summary = pst::inspectStore(*reader, true);
        if (!summary)
            fail("PST file unreadable", summary.error());
        if (!summary->problems.empty())
            fail("PST file partly unreadable", summary->problems.front());
    }
    return 0;
}
