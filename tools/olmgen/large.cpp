// The benchmark archive: many mails with attachments of every size class, plus contacts,
// groups, events, tasks and notes, all drawn from one seed. Attachment data is described, not
// held: it is generated while the archive is written.
#include "olmgen/olmgen.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace parvelle::olmgen {

namespace {

constexpr std::array kFirstNames = {"Alice", "Zoë",  "José",   "Ångström", "小明",   "健二",
                                    "محمد",  "Olga", "Ngozi",  "Priya",    "Łukasz", "Chloé",
                                    "Bjørn", "Aiko", "Fatima", "Mateo"};
constexpr std::array kLastNames = {"Müller", "Ñúñez", "王",    "佐藤",   "الأحمد", "Ivanova",
                                   "Okafor", "Patel", "Nowak", "Dubois", "Larsen", "Smith"};
constexpr std::array kDomains = {"example.com", "example.de", "example.jp",
                                 "example.sa",  "example.cn", "example.org"};
constexpr std::array kTopics = {
    "Quarterly report",  "Réunion d'équipe",    "会议纪要",     "Budget ✔", "تحديث المشروع",
    "Release notes",     "Urlaubsplanung 🏖", "週次レポート", "Invoice",  "Design review",
    "Customer feedback", "Onboarding"};
constexpr std::array kWords = {"the",      "budget",   "meeting", "report", "résumé", "naïve",
                               "schedule", "会议",     "報告",    "تقرير",  "review", "draft",
                               "🎉",        "deadline", "über",    "next",   "week",   "numbers",
                               "please",   "attached", "thanks",  "ok",     "plan",   "Straße"};
constexpr std::array kExtensions = {"pdf", "docx", "xlsx", "png", "jpeg", "zip", "txt", "csv"};

struct Clock {
    // Seconds since 1970-01-01 to "YYYY-MM-DDTHH:MM:SS" (proleptic Gregorian, integer only).
    static std::string iso(std::int64_t seconds) {
        std::int64_t days = seconds / 86400;
        const std::int64_t rest = seconds % 86400;
        days += 719468;
        const std::int64_t era = days / 146097;
        const std::int64_t doe = days - era * 146097;
        const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const std::int64_t mp = (5 * doy + 2) / 153;
        const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
        const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
        const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
        char text[96];
        std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                      static_cast<long long>(year), static_cast<long long>(month),
                      static_cast<long long>(day), static_cast<long long>(rest / 3600),
                      static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
        return text;
    }
};

constexpr std::int64_t kStart = 1577836800; // 2020-01-01T00:00:00

template <typename Pool> std::string pick(Random& random, const Pool& pool) {
    return pool[random.between(0, pool.size() - 1)];
}

Address person(Random& random) {
    const std::string first = pick(random, kFirstNames);
    const std::string last = pick(random, kLastNames);
    const std::string local = "user" + std::to_string(random.between(1, 500));
    return {first + " " + last, local + "@" + pick(random, kDomains)};
}

std::string words(Random& random, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) {
        text += pick(random, kWords);
        text += random.chance(8) ? ".\n" : " ";
    }
    return text;
}

// Raw attachment size relative to the average `mean`: mostly small, some around the mean, a
// few far above it, so that a gigabyte archive holds attachments from bytes to megabytes.
std::uint64_t rawSize(Random& random, std::uint64_t mean) {
    const auto logUniform = [&](std::uint64_t low, std::uint64_t high) {
        low = std::max<std::uint64_t>(low, 1);
        high = std::max(high, low);
        int lowBits = 0;
        int highBits = 0;
        while ((std::uint64_t{1} << (lowBits + 1)) <= low) {
            ++lowBits;
        }
        while ((std::uint64_t{1} << (highBits + 1)) <= high) {
            ++highBits;
        }
        const int bits = static_cast<int>(random.between(lowBits, highBits));
        const std::uint64_t base = std::uint64_t{1} << bits;
        return base + random.between(0, base - 1);
    };
    const std::uint64_t roll = random.between(0, 99);
    if (roll < 60) {
        return logUniform(1, mean / 4);
    }
    if (roll < 95) {
        return logUniform(mean / 4, mean * 2);
    }
    return logUniform(mean * 2, mean * 64);
}

} // namespace

ArchiveDescription largeDescription(const LargeOptions& options) {
    Random random(options.seed);
    ArchiveDescription description;
    description.categories = {{"Benchmark"}, {"重要", "r:0.89 g:0.15 b:0.15"}};

    // Attachment counts first, so that sizes can be spread over exactly the attachment budget.
    std::vector<std::size_t> counts(options.mails, 0);
    std::size_t attachmentCount = 0;
    if (options.attachmentBytes > 0) {
        for (std::size_t& count : counts) {
            count = random.chance(65) ? static_cast<std::size_t>(random.between(1, 4)) : 0;
            attachmentCount += count;
        }
    }
    std::vector<std::uint64_t> sizes(attachmentCount, 0);
    if (attachmentCount > 0) {
        const std::uint64_t mean =
            std::max<std::uint64_t>(options.attachmentBytes / attachmentCount, 1);
        double total = 0;
        for (std::uint64_t& size : sizes) {
            size = random.chance(1) ? 0 : rawSize(random, mean);
            total += static_cast<double>(size);
        }
        // Only basic IEEE operations here, so the result is the same on every platform.
        const double scale = total > 0 ? static_cast<double>(options.attachmentBytes) / total : 0;
        std::uint64_t assigned = 0;
        std::size_t largest = 0;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            // Scaling must not turn a small attachment into an empty one; empty ones are
            // drawn on purpose above.
            const std::uint64_t raw = sizes[i];
            sizes[i] = static_cast<std::uint64_t>(static_cast<double>(raw) * scale);
            if (raw > 0 && sizes[i] == 0) {
                sizes[i] = 1;
            }
            assigned += sizes[i];
            if (sizes[i] > sizes[largest]) {
                largest = i;
            }
        }
        if (assigned > options.attachmentBytes) {
            sizes[largest] -= std::min(sizes[largest], assigned - options.attachmentBytes);
        } else {
            sizes[largest] += options.attachmentBytes - assigned;
        }
    }

    Account bench;
    bench.name = "bench@example.com";
    Account local;
    local.name = std::string(kLocalAccount);

    MailFolder inbox{"Inbox", {}, {}};
    MailFolder year{"2024", {}, {}};
    MailFolder sent{"Sent Items", {}, {}};
    MailFolder archive2022{"2022", {}, {}};
    MailFolder archive2023{"2023", {}, {}};
    MailFolder localInbox{"Inbox", {}, {}};
    // Folder of the i-th mail, in tenths: Inbox 4, Inbox/Projects/2024 1, Sent Items 2,
    // Archive/2022 1, Archive/2023 1, Local Inbox 1.
    std::array<MailFolder*, 10> folderOf = {&inbox,       &inbox,     &inbox, &inbox,
                                            &year,        &sent,      &sent,  &archive2022,
                                            &archive2023, &localInbox};

    std::size_t nextAttachment = 0;
    for (std::size_t i = 0; i < options.mails; ++i) {
        Mail mail;
        mail.subject = pick(random, kTopics) + " #" + std::to_string(i + 1);
        mail.from = person(random);
        const std::size_t toCount = random.between(1, 3);
        for (std::size_t n = 0; n < toCount; ++n) {
            mail.to.push_back(person(random));
        }
        if (random.chance(30)) {
            mail.cc.push_back(person(random));
        }
        if (random.chance(10)) {
            mail.bcc.push_back(person(random));
        }
        const std::int64_t sent = kStart + static_cast<std::int64_t>(i) * 3600 +
                                  static_cast<std::int64_t>(random.between(0, 3599));
        mail.sentTime = Clock::iso(sent);
        mail.receivedTime = Clock::iso(sent + static_cast<std::int64_t>(random.between(1, 300)));
        mail.body = words(random, random.between(200, 3000));
        if (random.chance(50)) {
            mail.htmlBody =
                "<html><body><p>" + words(random, random.between(200, 2000)) + "</p></body></html>";
        }
        mail.isRead = random.chance(80);
        for (std::size_t n = 0; n < counts[i]; ++n) {
            const std::string extension = pick(random, kExtensions);
            Attachment attachment;
            attachment.name = pick(random, kWords) + "_" + std::to_string(n + 1) + "." + extension;
            attachment.extension = extension;
            attachment.contentType = "application/octet-stream";
            attachment.content = Payload::pseudoRandom(sizes[nextAttachment++], random.next());
            mail.attachments.push_back(std::move(attachment));
        }
        folderOf[i % folderOf.size()]->mails.push_back(std::move(mail));
    }
    inbox.folders.push_back({"Projects", {}, {std::move(year)}});
    bench.mailFolders = {std::move(inbox),
                         std::move(sent),
                         {"Archive", {}, {std::move(archive2022), std::move(archive2023)}}};
    local.mailFolders = {std::move(localInbox)};

    ItemFolder contacts;
    contacts.path = "Contacts";
    for (std::size_t i = 0; i < options.contacts; ++i) {
        Contact contact;
        contact.firstName = pick(random, kFirstNames);
        contact.lastName = pick(random, kLastNames);
        contact.displayName = contact.firstName + " " + contact.lastName;
        contact.emails = {{"contact" + std::to_string(i) + "@" + pick(random, kDomains), "0"}};
        if (random.chance(30)) {
            contact.emails.push_back({"home" + std::to_string(i) + "@example.net", "1"});
        }
        contact.businessPhone = "+1 555 " + std::to_string(1000000 + i);
        contact.company = pick(random, kLastNames) + " GmbH";
        contact.modDate = Clock::iso(kStart + static_cast<std::int64_t>(i) * 600);
        contacts.contacts.push_back(std::move(contact));
    }
    for (std::size_t i = 0; i < options.groups; ++i) {
        Group group;
        group.displayName = pick(random, kTopics) + " group " + std::to_string(i + 1);
        const std::size_t members = random.between(2, 8);
        for (std::size_t n = 0; n < members; ++n) {
            group.members.push_back(person(random));
        }
        group.modDate = Clock::iso(kStart + static_cast<std::int64_t>(i) * 7200);
        contacts.groups.push_back(std::move(group));
    }

    ItemFolder calendar;
    calendar.path = "Calendar";
    for (std::size_t i = 0; i < options.events; ++i) {
        Event event;
        event.summary = pick(random, kTopics) + " (" + std::to_string(i + 1) + ")";
        event.organizer = person(random).address;
        const std::size_t attendees = random.between(0, 5);
        for (std::size_t n = 0; n < attendees; ++n) {
            const Address who = person(random);
            event.attendees.push_back({who.name, who.address, 1, 0, true});
        }
        const std::int64_t start = kStart + static_cast<std::int64_t>(i) * 5400;
        event.startTime = Clock::iso(start);
        event.endTime = Clock::iso(start + 1800 * static_cast<std::int64_t>(random.between(1, 4)));
        event.modDate = Clock::iso(start - 86400);
        event.location = "Room " + std::to_string(random.between(1, 40));
        event.description = words(random, random.between(50, 500));
        event.hasReminder = random.chance(50);
        if (random.chance(20)) {
            Recurrence recurrence;
            recurrence.patternType = random.chance(50) ? "Weekly" : "Daily";
            recurrence.startDate = Clock::iso(start - start % 86400);
            recurrence.occurrences = static_cast<int>(random.between(2, 20));
            event.recurrence = recurrence;
        }
        calendar.events.push_back(std::move(event));
    }

    ItemFolder tasks;
    tasks.path = "Tasks";
    for (std::size_t i = 0; i < options.tasks; ++i) {
        Task task;
        task.name = pick(random, kTopics) + " task " + std::to_string(i + 1);
        task.note = words(random, random.between(20, 300));
        const std::int64_t start = kStart + static_cast<std::int64_t>(i) * 86400;
        task.startDateTime = Clock::iso(start);
        task.dueDateTime = Clock::iso(start + 7 * 86400);
        task.modDate = Clock::iso(start);
        task.priority = static_cast<int>(random.between(1, 4));
        tasks.tasks.push_back(std::move(task));
    }

    ItemFolder notes;
    notes.path = "Notes";
    for (std::size_t i = 0; i < options.notes; ++i) {
        Note note;
        note.title = pick(random, kTopics) + " note " + std::to_string(i + 1);
        note.text = words(random, random.between(20, 800));
        note.creationDate = Clock::iso(kStart + static_cast<std::int64_t>(i) * 4000);
        note.modDate = note.creationDate;
        notes.notes.push_back(std::move(note));
    }

    bench.itemFolders = {std::move(contacts), std::move(calendar), std::move(tasks),
                         std::move(notes)};
    description.accounts = {std::move(bench), std::move(local)};
    return description;
}

} // namespace parvelle::olmgen
