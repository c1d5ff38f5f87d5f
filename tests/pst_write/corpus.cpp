#include "corpus.h"

#include "store/mapi/derived_properties.h"
#include "store/mapi/entry_id.h"
#include "store/mapi/tags.h"

namespace parvelle::pst::test {

namespace tags = mapi::tags;
using mapi::PropValue;

namespace {

mapi::Binary pattern(std::size_t size, unsigned seed) {
    mapi::Binary b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& byte : b) {
        x = x * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(x >> 24);
    }
    return b;
}

mapi::Message item(const std::string& messageClass, const std::string& subject) {
    mapi::Message m;
    m.props.setString(tags::kMessageClass, messageClass);
    m.props.setString(tags::kSubject, subject);
    return m;
}

} // namespace

PstStore::Options options(const std::string& displayName, std::size_t commitEvery,
                          const std::string& password) {
    PstStore::Options o;
    if (!displayName.empty())
        o.displayName = displayName;
    o.commitEvery = commitEvery;
    o.password = password;
    return o;
}

mapi::Message simpleMail(const std::string& subject, const std::string& body) {
    mapi::Message m = item("IPM.Note", subject);
    m.props.setString(tags::kBody, body);
    m.props.setString(tags::kSenderName, "Ada Sender");
    m.props.setString(tags::kSenderEmail, "ada@example.org");
    m.props.setTime(tags::kClientSubmitTime, mapi::FileTime::fromUnixSeconds(1700000000));
    m.recipients.push_back(
        mapi::Recipient::make("Bob Receiver", "bob@example.org", tags::kRecipTo));
    return m;
}

std::vector<CorpusFolder> richCorpus() {
    std::vector<CorpusFolder> corpus;

    CorpusFolder inbox{"Inbox", "IPF.Note", {}};
    {
        mapi::Message m = simpleMail("Grüße – 日本語 ✓", "Unicode body: Ärger, 北京, emoji 🎉.");
        m.recipients.push_back(
            mapi::Recipient::make("Çelik Ünal", "celik@example.org", tags::kRecipCc));
        m.recipients.push_back(
            mapi::Recipient::make("Hidden", "hidden@example.org", tags::kRecipBcc));
        m.props.setNamed({mapi::psets::kPublicStrings, std::string("Keywords")},
                         PropValue::multiUnicode({"Red", "Projekt Ω"}));
        inbox.messages.push_back(std::move(m));
    }
    {
        mapi::Message m = simpleMail("HTML only", "");
        m.props.remove(tags::kBody);
        const std::string html =
            "<html><head><style>p{}</style></head><body><p>First paragraph &amp; more</p>"
            "<p>Second<br>line</p></body></html>";
        m.props.setBinary(tags::kHtml, mapi::Binary(html.begin(), html.end()));
        inbox.messages.push_back(std::move(m));
    }
    {
        mapi::Message m = simpleMail("RE: Many attachments", "See attached.");
        const std::vector<std::pair<std::string, std::size_t>> files{
            {"small.txt", 12},
            {"empty.dat", 0},
            {"résumé (final).pdf", 3000},
            {"no_extension", 5000},
            {"日本語の添付.docx", 70000},
            {"large.bin", 300000},
            {std::string(150, 'n') + ".txt", 100},
            {"huge.bin", 9 * 1024 * 1024}, // beyond one XBLOCK: an XXBLOCK data tree
        };
        unsigned seed = 1;
        for (const auto& [name, size] : files)
            m.attachments.push_back(mapi::Attachment::byValue(name, pattern(size, seed++)));
        inbox.messages.push_back(std::move(m));
    }
    {
        std::string longBody;
        while (longBody.size() < 40000)
            longBody += "A long body line with some words, to span several blocks.\r\n";
        inbox.messages.push_back(simpleMail(std::string(300, 'S'), longBody));
    }
    {
        mapi::Message inner = simpleMail("Inner message", "I am embedded.");
        inner.attachments.push_back(mapi::Attachment::byValue("inner.txt", pattern(777, 9)));
        mapi::Message outer = simpleMail("Outer with embedded", "Forwarded below.");
        outer.attachments.push_back(
            mapi::Attachment::embeddedMessage("Inner message", std::move(inner)));
        inbox.messages.push_back(std::move(outer));
    }
    corpus.push_back(std::move(inbox));

    CorpusFolder sub{"Inbox/Ünïcødé 子フォルダ", "IPF.Note", {}};
    sub.messages.push_back(simpleMail("In a subfolder", "nested"));
    corpus.push_back(std::move(sub));

    CorpusFolder contacts{"Contacts", "IPF.Contact", {}};
    {
        mapi::Message c = item("IPM.Contact", "Zoë Müller");
        c.props.setString(mapi::makeTag(0x3A06, mapi::PropType::Unicode), "Zoë");    // given name
        c.props.setString(mapi::makeTag(0x3A11, mapi::PropType::Unicode), "Müller"); // surname
        c.props.setString(mapi::makeTag(0x3A08, mapi::PropType::Unicode),
                          "+49 30 1234"); // business
        c.props.setString(mapi::makeTag(0x3A1C, mapi::PropType::Unicode), "+49 170 5678"); // mobile
        c.props.setTime(mapi::makeTag(0x3A42, mapi::PropType::SysTime),
                        mapi::FileTime::fromUnixSeconds(631152000)); // birthday
        c.props.setNamed({mapi::psets::kAddress, 0x8083u}, PropValue::unicode("zoe@example.org"));
        c.props.setNamed({mapi::psets::kAddress, 0x8080u},
                         PropValue::unicode("Zoë Müller (zoe@example.org)"));
        c.props.setNamed({mapi::psets::kAddress, 0x8082u}, PropValue::unicode("SMTP"));
        c.props.setNamed({mapi::psets::kAddress, 0x8005u}, PropValue::unicode("Müller, Zoë"));
        c.props.setNamed({mapi::psets::kAddress, 0x8028u}, PropValue::multiLong({0}));
        contacts.messages.push_back(std::move(c));
        mapi::Message dl = item("IPM.DistList", "Team list");
        const std::vector<mapi::Binary> members{
            mapi::oneOffEntryId("Ann Åberg", "SMTP", "ann@example.org"),
            mapi::oneOffEntryId("Bob Brown", "SMTP", "bob@example.org")};
        dl.props.setNamed({mapi::psets::kAddress, 0x8053u}, PropValue::unicode("Team list"));
        dl.props.setNamed({mapi::psets::kAddress, 0x8054u}, PropValue::multiBinary(members));
        dl.props.setNamed({mapi::psets::kAddress, 0x8055u}, PropValue::multiBinary(members));
        contacts.messages.push_back(std::move(dl));
    }
    corpus.push_back(std::move(contacts));

    CorpusFolder calendar{"Calendar", "IPF.Appointment", {}};
    {
        mapi::Message a = item("IPM.Appointment", "Planning meeting");
        a.props.setNamed({mapi::psets::kAppointment, 0x820Du},
                         PropValue::time(mapi::FileTime::fromUnixSeconds(1700003600)));
        a.props.setNamed({mapi::psets::kAppointment, 0x820Eu},
                         PropValue::time(mapi::FileTime::fromUnixSeconds(1700007200)));
        a.props.setNamed({mapi::psets::kAppointment, 0x8208u}, PropValue::unicode("Room 4 – Süd"));
        a.props.setNamed({mapi::psets::kAppointment, 0x8205u}, PropValue::i4(2));
        a.props.setNamed({mapi::psets::kAppointment, 0x8213u}, PropValue::i4(60)); // duration
        a.props.setNamed({mapi::psets::kAppointment, 0x8215u}, PropValue::boolean(false));
        a.props.setNamed({mapi::psets::kCommon, 0x8503u}, PropValue::boolean(true)); // reminder
        a.props.setNamed({mapi::psets::kCommon, 0x8501u}, PropValue::i4(15));
        calendar.messages.push_back(std::move(a));
    }
    corpus.push_back(std::move(calendar));

    CorpusFolder tasks{"Tasks", "IPF.Task", {}};
    {
        mapi::Message t = item("IPM.Task", "Write the report");
        t.props.setNamed({mapi::psets::kTask, 0x8101u}, PropValue::i4(1));
        t.props.setNamed({mapi::psets::kTask, 0x8102u}, PropValue::real(0.5));
        t.props.setNamed({mapi::psets::kTask, 0x811Cu}, PropValue::boolean(false));
        t.props.setNamed({mapi::psets::kTask, 0x8104u},
                         PropValue::time(mapi::FileTime::fromUnixSeconds(1700006400)));
        t.props.setNamed({mapi::psets::kTask, 0x8105u},
                         PropValue::time(mapi::FileTime::fromUnixSeconds(1700611200)));
        tasks.messages.push_back(std::move(t));
    }
    corpus.push_back(std::move(tasks));

    CorpusFolder notes{"Notes", "IPF.StickyNote", {}};
    {
        mapi::Message n = item("IPM.StickyNote", "Buy milk");
        n.props.setString(tags::kBody, "Buy milk\r\nand bread");
        n.props.setNamed({mapi::psets::kNote, 0x8B00u}, PropValue::i4(3)); // yellow
        n.props.setNamed({mapi::psets::kNote, 0x8B02u}, PropValue::i4(200));
        n.props.setNamed({mapi::psets::kNote, 0x8B03u}, PropValue::i4(166));
        notes.messages.push_back(std::move(n));
    }
    corpus.push_back(std::move(notes));

    corpus.push_back({"Empty", "IPF.Note", {}});
    return corpus;
}

std::vector<CorpusFolder> manyMessages(const std::string& folder, int count) {
    CorpusFolder f{folder, "IPF.Note", {}};
    for (int i = 0; i < count; ++i)
        f.messages.push_back(
            simpleMail("Message number " + std::to_string(i), "Body " + std::to_string(i)));
    return {std::move(f)};
}

std::vector<CorpusFolder> deepTree(int depth) {
    std::vector<CorpusFolder> corpus;
    std::string path;
    for (int i = 0; i < depth; ++i) {
        path += (path.empty() ? "" : "/") + std::string("Level ") + std::to_string(i);
        corpus.push_back({path, "IPF.Note", {}});
    }
    corpus.back().messages.push_back(simpleMail("At the bottom", "deep"));
    return corpus;
}

std::vector<CorpusFolder> manySubfolders(const std::string& parent, int count) {
    std::vector<CorpusFolder> corpus{{parent, "IPF.Note", {}}};
    for (int i = 0; i < count; ++i) {
        const std::string name = "Subfolder " + std::to_string(i);
        corpus.push_back(
            {parent + "/" + name, "IPF.Note", {simpleMail("In " + name, "Filed in " + name)}});
    }
    return corpus;
}

bool writeCorpus(PstStore& store, const std::vector<CorpusFolder>& corpus, std::string& error) {
    for (const CorpusFolder& f : corpus) {
        FolderId current = store.rootFolder();
        std::size_t at = 0;
        while (at <= f.path.size()) {
            const std::size_t slash = std::min(f.path.find('/', at), f.path.size());
            const std::string name = f.path.substr(at, slash - at);
            auto next = store.findSubfolder(current, name);
            if (!next)
                next = store.addFolder(current, name, f.containerClass, error);
            if (!next)
                return false;
            current = *next;
            at = slash + 1;
        }
        for (const mapi::Message& m : f.messages)
            if (!store.addMessage(current, m, error))
                return false;
    }
    return true;
}

SeenStore expectedView(const std::vector<CorpusFolder>& corpus) {
    SeenStore view;
    view.folders[""];
    for (const CorpusFolder& f : corpus) {
        auto& items = view.folders[f.path];
        for (mapi::Message m : f.messages) {
            mapi::deriveOnSave(m);
            SeenItem item;
            item.messageClass = m.props.string(tags::kMessageClass);
            item.subject = m.props.string(tags::kSubject);
            item.body = m.props.string(tags::kBody);
            for (const mapi::Recipient& r : m.recipients)
                item.recipientEmails.push_back(r.props.string(tags::kEmailAddress));
            for (const mapi::Attachment& a : m.attachments) {
                SeenAttachment seen;
                seen.name = a.isEmbedded() ? a.props.string(tags::kDisplayName)
                                           : a.props.string(tags::kAttachLongFilename);
                if (a.isEmbedded()) {
                    seen.embeddedSubject = a.embedded->props.string(tags::kSubject);
                } else {
                    mapi::Binary bytes(a.content.size);
                    if (!bytes.empty())
                        a.content.read(0, bytes);
                    seen.sha256 = sha256Hex(bytes);
                    seen.size = bytes.size();
                }
                item.attachments.push_back(std::move(seen));
            }
            items.push_back(std::move(item));
        }
    }
    return view;
}

} // namespace parvelle::pst::test
