// The bundled sample archive: small, but with every item kind and the awkward cases a real
// export holds (Unicode everywhere, nested folders, recipients without address, attachments
// with odd, empty or extension-less names, empty and large-ish attachment data).
#include "olmgen/olmgen.h"

namespace parvelle::olmgen {

namespace {

const Address kJane{"Jane Doe", "jane.doe@example.com"};
const Address kAlice{"Alice Müller", "alice.mueller@example.de"};
const Address kOmar{"عمر الفاروق", "omar@example.sa"};
const Address kWang{"王小明", "xiaoming.wang@example.cn"};
const Address kKenji{"佐藤 健二", "kenji.sato@example.jp"};
const Address kZoe{"Zoë Ångström", "zoe@example.se"};
const Address kJose{"José Ñúñez 😀", "jose.nunez@example.es"};

std::string html(std::string_view paragraph) {
    return "<html><head><meta charset=\"utf-8\"></head><body><p>" + std::string(paragraph) +
           "</p><p style=\"color:#336\">&nbsp;— Sent from the sample archive</p></body></html>";
}

// The well-known 1x1 transparent PNG.
Payload tinyPng() {
    static const unsigned char png[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
        0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D, 0xB4, 0x00,
        0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(png), sizeof png);
}

Payload tinyPdf() {
    return "%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n"
           "2 0 obj <</Type /Pages /Kids [3 0 R] /Count 1>> endobj\n"
           "3 0 obj <</Type /Page /Parent 2 0 R /MediaBox [0 0 200 100]>> endobj\n"
           "trailer <</Root 1 0 R>>\n%%EOF\n";
}

Payload embeddedMessage() {
    return "From: Alice Müller <alice.mueller@example.de>\r\n"
           "To: Jane Doe <jane.doe@example.com>\r\n"
           "Subject: =?UTF-8?Q?Fr=C3=BChst=C3=BCck?=\r\n"
           "Date: Tue, 12 Mar 2024 08:15:00 +0100\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n"
           "\r\n"
           "Frühstück um acht?\r\n";
}

Attachment attachment(std::string name, std::string extension, std::string type, Payload content) {
    Attachment a;
    a.name = std::move(name);
    a.extension = std::move(extension);
    a.contentType = std::move(type);
    a.content = std::move(content);
    return a;
}

Mail mail(std::string subject, Address from, std::vector<Address> to, std::string sent,
          std::string body) {
    Mail m;
    m.subject = std::move(subject);
    m.from = std::move(from);
    m.to = std::move(to);
    m.sentTime = sent;
    m.receivedTime = std::move(sent);
    m.body = std::move(body);
    return m;
}

Account janeAccount() {
    Account account;
    account.name = "jane.doe@example.com";

    MailFolder inbox{"Inbox", {}, {}};
    {
        Mail m =
            mail("Quarterly report Q1 — résumé & figures", kAlice, {kJane}, "2024-03-14T09:30:00",
                 "Hi Jane,\n\nattached are the Q1 figures <draft> & the résumé.\n\nAlice");
        m.htmlBody = html("Hi Jane, attached are the <b>Q1 figures</b> &amp; the résumé.");
        m.cc = {kOmar, {"Finance Team (no address)", ""}};
        m.bcc = {{"", "audit@example.com"}};
        m.receivedTime = "2024-03-14T09:31:12";
        m.attachments = {
            attachment("report.pdf", "pdf", "application/pdf", tinyPdf()),
            attachment("Résumé — final (v2).docx", "docx",
                       "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                       Payload::pseudoRandom(12 * 1024, 11)),
            attachment("報告書 2024.xlsx", "xlsx",
                       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                       Payload::pseudoRandom(40 * 1024 + 7, 12)),
            attachment("empty.txt", "txt", "text/plain", ""),
        };
        inbox.mails.push_back(std::move(m));
    }
    {
        Mail m =
            mail("اجتماع الفريق 📅 Team meeting", kOmar, {kJane, {"Bob (name only)", ""}},
                 "2024-03-15T13:05:00", "مرحبا جين،\nالاجتماع يوم الأحد الساعة العاشرة.\n\nOmar");
        m.attachments = {
            attachment("notes", "", "message/rfc822", embeddedMessage()),
            attachment("a/b:c?.txt", "txt", "text/plain", "odd name, plain text\n"),
            attachment("photo.JPG", "jpeg", "image/jpeg", Payload::pseudoRandom(60 * 1024, 13)),
        };
        m.attachments.back().contentId = "photo001@01DA7612.4C5F8A30";
        inbox.mails.push_back(std::move(m));
    }
    {
        Mail m = mail("日本語の件名 — 会議の議事録", kKenji, {kJane}, "2024-03-18T02:45:10",
                      "ジェーンさん、\n会議の議事録を送ります。\nよろしくお願いします。");
        m.priority = 1;
        m.isRead = false;
        inbox.mails.push_back(std::move(m));
    }

    MailFolder year{"2024", {}, {}};
    {
        Mail m = mail("Budget 2024 ✔", kZoe, {kJane, kAlice}, "2024-01-08T16:20:00",
                      "Budget attached; diagram inline.");
        m.htmlBody = html("Budget attached; diagram: <img src=\"cid:diagram@sample\">");
        m.attachments = {
            attachment("budget.csv", "csv", "text/csv",
                       "Posten;Betrag €\nMiete;1200\nÉnergie;310\n交通;95\n"),
            attachment("diagram.png", "png", "image/png", tinyPng()),
            attachment("archive.tar.gz", "gz", "application/gzip",
                       Payload::pseudoRandom(90 * 1024 + 123, 14)),
        };
        m.attachments[1].contentId = "diagram@sample";
        year.mails.push_back(std::move(m));
    }
    {
        Mail m = mail("RE: Budget 2024 ✔", kJane, {kZoe}, "2024-01-09T08:02:44",
                      "Thanks Zoë, looks good.\n\n> Budget attached; diagram inline.");
        m.messageId = "<CAF1234.reply@mail.example.com>";
        m.isOutgoing = true;
        m.attachments = {
            attachment("signed-off.txt", "txt", "text/plain", "OK — Jane\n"),
            attachment("photo_1234.jpeg", "jpeg", "image/jpeg", Payload::pseudoRandom(3000, 15)),
        };
        m.attachments.back().fileName = "photo_1234.jpeg";
        year.mails.push_back(std::move(m));
    }
    MailFolder projects{"Projects", {}, {std::move(year)}};
    projects.mails.push_back(mail("Kick-off: Projekt Ärger-frei", kAlice, {kJane, kZoe},
                                  "2023-12-01T10:00:00", "Kick-off am Montag."));
    inbox.folders.push_back(std::move(projects));

    MailFolder sent{"Sent Items", {}, {}};
    {
        Mail m =
            mail("Slides for Thursday", kJane, {kAlice, kOmar, kWang}, "2024-03-19T17:45:00", "");
        m.htmlBody = html("Slides attached.");
        m.isOutgoing = true;
        m.attachments = {attachment(
            "A very long attachment name that keeps going and going to test how file name "
            "limits are handled by every writer — including the Unicode part ✓ — "
            "slides final final (3).pptx",
            "pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation",
            Payload::pseudoRandom(25 * 1024, 16))};
        sent.mails.push_back(std::move(m));
    }
    {
        Mail m = mail("", kJane, {kWang}, "2024-03-20T07:00:00", "(no subject on purpose)");
        m.isOutgoing = true;
        sent.mails.push_back(std::move(m));
    }

    MailFolder drafts{"Drafts", {}, {}};
    {
        Mail m = mail("Draft: thoughts on the roadmap", kJane, {}, "", "Unfinished…");
        m.receivedTime = "";
        m.modDate = "2024-03-21T22:10:00";
        drafts.mails.push_back(std::move(m));
    }

    MailFolder chinese{"收件箱 归档", {}, {}};
    {
        Mail m = mail("项目说明 — 第二阶段", kWang, {kJane}, "2024-02-29T23:59:59",
                      "简：\n附件是第二阶段的说明。\n小明");
        m.attachments = {
            attachment("说明.txt", "txt", "text/plain; charset=utf-8", "第二阶段：测试、发布。\n")};
        chinese.mails.push_back(std::move(m));
    }

    account.mailFolders = {std::move(inbox), std::move(sent), std::move(drafts),
                           std::move(chinese)};

    ItemFolder contacts;
    contacts.path = "Contacts";
    {
        Contact c;
        c.displayName = "Zoë Ångström";
        c.firstName = "Zoë";
        c.lastName = "Ångström";
        c.company = "Nordljus AB";
        c.jobTitle = "Chief Ørnithologist";
        c.department = "Forskning";
        c.emails = {
            {"zoe@example.se", "0"}, {"zoe.home@example.se", "1"}, {"zoe.other@example.org", "2"}};
        c.imAddress = "zoe@chat.example.se";
        c.businessPhone = "+46 8 123 45 67";
        c.cellPhone = "+46 70 765 43 21";
        c.businessStreet = "Storgatan 1";
        c.businessCity = "Göteborg";
        c.businessZip = "411 01";
        c.businessCountry = "Sverige";
        c.birthday = "1985-05-04T00:00:00";
        c.anniversary = "2010-06-19T00:00:00";
        c.children = {"Åsa", "Lukas"};
        c.spouse = "Erik";
        c.notes = "Prefers e-mail; allergic to 🥜.";
        c.modDate = "2024-02-01T12:00:00";
        contacts.contacts.push_back(std::move(c));
    }
    {
        Contact c;
        c.displayName = "王小明";
        c.firstName = "小明";
        c.lastName = "王";
        c.emails = {{"xiaoming.wang@example.cn", "0"}};
        c.homeCity = "北京";
        c.homeCountry = "中国";
        c.modDate = "2024-02-02T08:30:00";
        contacts.contacts.push_back(std::move(c));
    }
    {
        Contact c;
        c.displayName = "محمد الأحمد";
        c.firstName = "محمد";
        c.lastName = "الأحمد";
        c.emails = {{"m.ahmad@example.sa", "0"}, {"m.ahmad@home.example.sa", "0"}};
        c.homePhone = "+966 11 000 0000";
        c.modDate = "2024-02-03T19:45:00";
        contacts.contacts.push_back(std::move(c));
    }
    {
        Contact c;
        c.displayName = "José Ñúñez 😀";
        c.modDate = "2024-02-04T00:00:01";
        contacts.contacts.push_back(std::move(c));
    }
    contacts.groups = {
        {"Project Team ✨",
         {kAlice, kZoe, {"", "omar@example.sa"}},
         "Weekly sync group",
         "2024-02-05T09:00:00",
         {}},
        {"家族", {{"妈妈", "mama@example.cn"}, {"Papa", ""}}, "", "2024-02-06T10:00:00", {}},
    };

    ItemFolder calendar;
    calendar.path = "Calendar";
    {
        Event e;
        e.summary = "Daily stand-up ☕";
        e.organizer = "jane.doe@example.com";
        e.attendees = {{kAlice.name, kAlice.address, 1, 3, true},
                       {kOmar.name, kOmar.address, 1, 0, true},
                       {"Room Fjord", "room.fjord@example.com", 3, 3, false}};
        e.startTime = "2024-03-18T08:00:00";
        e.endTime = "2024-03-18T08:15:00";
        e.modDate = "2024-03-10T12:00:00";
        e.location = "Fjord (2. OG)";
        e.description = html("Stand-up: yesterday, today, blockers.");
        e.hasReminder = true;
        e.reminderDelta = 5;
        Recurrence r;
        r.patternType = "Weekly";
        r.interval = 1;
        r.startDate = "2024-03-18T00:00:00";
        r.days = {"monday", "tuesday", "wednesday", "thursday", "friday"};
        e.recurrence = r;
        calendar.events.push_back(std::move(e));
    }
    {
        Event e;
        e.summary = "عطلة — إجازة";
        e.organizer = "omar@example.sa";
        e.startTime = "2024-04-10T00:00:00";
        e.endTime = "2024-04-11T00:00:00";
        e.modDate = "2024-03-01T09:00:00";
        e.allDay = true;
        e.isPrivate = true;
        calendar.events.push_back(std::move(e));
    }
    {
        Event e;
        e.summary = "Monthly review 月度回顾";
        e.organizer = "xiaoming.wang@example.cn";
        e.attendees = {{"", "jane.doe@example.com", 1, 0, true},
                       {"Zoë (no address)", "", 2, 0, true}};
        e.startTime = "2024-01-31T14:00:00";
        e.endTime = "2024-01-31T15:30:00";
        e.modDate = "2024-01-15T11:11:11";
        e.location = "会议室 3";
        Recurrence r;
        r.patternType = "MonthlyNth";
        r.interval = 1;
        r.startDate = "2024-01-31T00:00:00";
        r.occurrences = 12;
        r.dayOfMonth = 31;
        e.recurrence = r;
        calendar.events.push_back(std::move(e));
    }

    ItemFolder birthdays;
    birthdays.path = "Calendar/Birthdays";
    {
        Event e;
        e.summary = "Zoë's birthday 🎂";
        e.organizer = "jane.doe@example.com";
        e.startTime = "2024-05-04T00:00:00";
        e.endTime = "2024-05-05T00:00:00";
        e.modDate = "2024-01-01T00:00:00";
        e.allDay = true;
        Recurrence r;
        r.patternType = "Yearly";
        r.startDate = "1985-05-04T00:00:00";
        r.dayOfMonth = 4;
        r.month = 5;
        e.recurrence = r;
        birthdays.events.push_back(std::move(e));
    }

    ItemFolder tasks;
    tasks.path = "Tasks";
    {
        Task t;
        t.name = "Prepare Q2 plan — Überblick";
        t.note = "Include the 报告 numbers.";
        t.startDateTime = "2024-03-25T08:00:00";
        t.dueDateTime = "2024-03-29T17:00:00";
        t.reminderTime = "2024-03-28T09:00:00";
        t.modDate = "2024-03-20T10:00:00";
        t.priority = 2;
        tasks.tasks.push_back(std::move(t));
    }
    {
        Task t;
        t.name = "Water the plants 🌱";
        t.modDate = "2024-03-01T07:00:00";
        t.priority = 4;
        Recurrence r;
        r.patternType = "Weekly";
        r.interval = 2;
        r.startDate = "2024-03-02T00:00:00";
        r.days = {"saturday"};
        t.recurrence = r;
        tasks.tasks.push_back(std::move(t));
    }
    {
        Task t;
        t.name = "تقديم التقرير";
        t.completedDateTime = "2024-02-15T16:00:00";
        t.dueDateTime = "2024-02-15T12:00:00";
        t.modDate = "2024-02-15T16:00:00";
        tasks.tasks.push_back(std::move(t));
    }

    ItemFolder notes;
    notes.path = "Notes";
    notes.notes = {
        {"Wi-Fi & door codes",
         "Guest Wi-Fi: <fjord-guest> / Tür: 4711",
         "2024-01-10T09:00:00",
         "2024-01-11T09:00:00",
         "1F2E3D4C-0001",
         {}},
        {"買い物リスト 🛒",
         "牛乳、パン、卵",
         "2024-03-02T18:30:00",
         "2024-03-02T18:31:00",
         "1F2E3D4C-0002",
         {}},
    };

    account.itemFolders = {std::move(contacts), std::move(calendar), std::move(birthdays),
                           std::move(tasks), std::move(notes)};
    return account;
}

Account kenjiAccount() {
    Account account;
    account.name = "kenji.sato@example.jp";

    MailFolder inbox{"Inbox", {}, {}};
    inbox.mails.push_back(mail("お疲れ様です — 来週の予定", kJane, {kKenji}, "2024-03-22T01:00:00",
                               "健二さん、来週の予定を確認してください。"));
    {
        Mail m = mail("تحديث المشروع", kOmar, {kKenji}, "2024-03-22T06:30:00", "نص عادي للرسالة");
        m.htmlBody =
            "<html dir=\"rtl\"><body><p>تحديث <b>المشروع</b> — الأسبوع ١٢</p></body></html>";
        m.cc = {kJane};
        inbox.mails.push_back(std::move(m));
    }
    MailFolder archive{"أرشيف", {}, {}};
    archive.mails.push_back(
        mail("Old thread (archived)", kAlice, {kKenji}, "2022-11-30T12:00:00", "Archived."));
    MailFolder events{"🎉 Events", {}, {}};
    {
        Mail m = mail("Party photos 🎉", kJose, {kKenji, kJane}, "2024-03-23T21:15:00",
                      "¡Fotos de la fiesta!");
        m.attachments = {attachment("🎉 party.png", "png", "image/png", tinyPng()),
                         attachment("mañana.txt", "txt", "text/plain", "¡Hasta mañana!\n")};
        events.mails.push_back(std::move(m));
    }
    account.mailFolders = {std::move(inbox), std::move(archive), std::move(events)};

    ItemFolder calendar;
    calendar.path = "Calendar";
    {
        Event e;
        e.summary = "東京オフィス訪問";
        e.organizer = "kenji.sato@example.jp";
        e.attendees = {{kJane.name, kJane.address, 1, 0, true}};
        e.startTime = "2024-04-02T00:30:00";
        e.endTime = "2024-04-02T03:00:00";
        e.modDate = "2024-03-20T05:00:00";
        e.location = "東京都千代田区";
        calendar.events.push_back(std::move(e));
    }
    ItemFolder contacts;
    contacts.path = "Contacts";
    {
        Contact c;
        c.displayName = "佐藤 健二";
        c.firstName = "健二";
        c.lastName = "佐藤";
        c.emails = {{"kenji.sato@example.jp", "0"}};
        c.modDate = "2024-03-20T05:00:00";
        contacts.contacts.push_back(std::move(c));
    }
    account.itemFolders = {std::move(calendar), std::move(contacts)};
    return account;
}

Account localAccount() {
    Account account;
    account.name = std::string(kLocalAccount);

    MailFolder inbox{"Inbox", {}, {}};
    {
        Mail m = mail("Fwd: Frühstück", kAlice, {kJane}, "2024-03-12T07:20:00",
                      "See the forwarded message.");
        m.attachments = {attachment("message 1.eml", "eml", "message/rfc822", embeddedMessage())};
        inbox.mails.push_back(std::move(m));
    }
    MailFolder drafts{"Drafts", {}, {}};
    drafts.mails.push_back(mail("Local draft ✎", kJane, {kZoe}, "", "Not sent yet."));
    MailFolder year{"2023", {}, {}};
    {
        Mail m = mail("One-byte attachment", kWang, {kJane}, "2023-06-01T06:00:00", "Tiny.");
        m.attachments = {attachment("x.bin", "bin", "application/octet-stream", "\x01")};
        year.mails.push_back(std::move(m));
    }
    MailFolder archive{"Archive", {}, {std::move(year)}};
    account.mailFolders = {std::move(inbox), std::move(drafts), std::move(archive)};

    ItemFolder addressBook;
    addressBook.path = "Address Book";
    {
        Contact c;
        c.displayName = "Alice Müller";
        c.firstName = "Alice";
        c.lastName = "Müller";
        c.emails = {{"alice.mueller@example.de", "0"}};
        c.businessCity = "München";
        c.modDate = "2024-01-20T10:00:00";
        addressBook.contacts.push_back(std::move(c));
    }
    {
        Contact c;
        c.displayName = "Omar Al-Farouq";
        c.firstName = "Omar";
        c.emails = {{"omar@example.sa", "0"}};
        c.modDate = "2024-01-21T10:00:00";
        addressBook.contacts.push_back(std::move(c));
    }
    addressBook.groups = {
        {"Lunch crew 🍜", {kAlice, {"Omar", "omar@example.sa"}}, "", "2024-01-22T12:00:00", {}}};

    ItemFolder calendar;
    calendar.path = "Calendar";
    {
        Event e;
        e.summary = "Dentist 🦷";
        e.organizer = "jane.doe@example.com";
        e.startTime = "2024-03-27T15:00:00";
        e.endTime = "2024-03-27T15:45:00";
        e.modDate = "2024-03-01T08:00:00";
        e.hasReminder = true;
        e.reminderDelta = 60;
        calendar.events.push_back(std::move(e));
    }
    {
        Event e;
        e.summary = "Yoga — daily";
        e.organizer = "jane.doe@example.com";
        e.startTime = "2024-03-01T06:30:00";
        e.endTime = "2024-03-01T07:00:00";
        e.modDate = "2024-02-28T20:00:00";
        Recurrence r;
        r.patternType = "Daily";
        r.interval = 1;
        r.startDate = "2024-03-01T00:00:00";
        r.endDate = "2024-03-31T00:00:00";
        e.recurrence = r;
        calendar.events.push_back(std::move(e));
    }

    ItemFolder tasks;
    tasks.path = "Tasks";
    {
        Task t;
        t.name = "Renew passport";
        t.dueDateTime = "2024-06-30T00:00:00";
        t.modDate = "2024-03-05T09:00:00";
        t.priority = 1;
        tasks.tasks.push_back(std::move(t));
    }
    ItemFolder notes;
    notes.path = "Notes";
    notes.notes = {{"Ideas 💡",
                    "1. Less meetings\n2. More naps",
                    "2024-02-20T21:00:00",
                    "2024-02-21T21:00:00",
                    "5A6B7C8D-0001",
                    {}}};

    account.itemFolders = {std::move(addressBook), std::move(calendar), std::move(tasks),
                           std::move(notes)};
    return account;
}

} // namespace

ArchiveDescription sampleDescription() {
    ArchiveDescription description;
    description.categories = {{"Family", "r:0.63 g:0.26 b:0.80"},
                              {"Projets — été", "r:0.40 g:0.27 b:0.80"},
                              {"重要", "r:0.89 g:0.15 b:0.15"},
                              {"عمل", "r:0.26 g:0.60 b:0.00"},
                              {"🎯 Focus \"quoted\"", "r:0.90 g:0.40 b:0.11"}};
    description.accounts = {janeAccount(), kenjiAccount(), localAccount()};
    return description;
}

} // namespace parvelle::olmgen
