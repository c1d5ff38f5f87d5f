// Lays a description out as archive members in Outlook's order and naming, collecting the
// expected facts on the way; writeArchive() feeds the members to the ZIP writer.
#include "olmgen/documents.h"
#include "olmgen/olmgen.h"
#include "platform/text.h"

#include <cstdio>
#include <set>
#include <system_error>

namespace parvelle::olmgen {

namespace {

constexpr std::string_view kMessages = "com.microsoft.__Messages";
constexpr std::string_view kAttachments = "com.microsoft.__Attachments";

enum class Role { Other, MailDocument, Attachment, Aggregate };

// Receives the members in archive order.
class MemberSink {
public:
    virtual ~MemberSink() = default;
    virtual void directory(const std::string& path) = 0;
    virtual void file(const std::string& path, const Payload& content, Role role) = 0;
};

std::string trimTrailingSpaces(std::string text) {
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string sanitizeFileName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        switch (c) {
        case '\\':
        case '/':
        case ':':
        case '?':
        case '*':
        case '"':
        case '<':
        case '>':
        case '|':
        case '\r':
        case '\n':
        case '\t':
            c = '_';
            break;
        default:
            break;
        }
    }
    return out;
}

// The name under which the mail reader saves an attachment.
std::string displayNameOf(const Attachment& attachment) {
    std::string name = sanitizeFileName(attachment.name);
    if (name.find('.') == std::string::npos) {
        name += attachment.extension.empty() ? ".eml" : "." + attachment.extension;
    }
    return name;
}

// The attachment member key: the file name before its last "@" (or without its last six
// characters when it has none), leading "<" removed, then the last four characters of the path.
// Counted in UTF-16 code units, as the readers count.
std::string memberKeyOf(std::string_view memberPath) {
    const std::u16string path = text::utf8ToUtf16(memberPath);
    const std::size_t slash = path.rfind(u'/');
    const std::u16string file = slash == std::u16string::npos ? path : path.substr(slash + 1);
    const std::u16string ending = path.size() >= 4 ? path.substr(path.size() - 4) : path;
    std::u16string base;
    if (const std::size_t at = file.rfind(u'@'); at != std::u16string::npos) {
        base = file.substr(0, at);
    } else if (file.size() > 6) {
        base = file.substr(0, file.size() - 6);
    }
    const std::size_t start = base.find_first_not_of(u'<');
    base = start == std::u16string::npos ? std::u16string() : base.substr(start);
    return base.empty() ? std::string() : text::utf16ToUtf8(base + ending);
}

std::uint64_t fnv1a(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 0x100000001b3ull;
    }
    return hash;
}

// A message id in the shape Outlook uses for its attachment file names, unique per mail.
std::string derivedMessageId(std::string_view mailPath) {
    Random random(fnv1a(mailPath));
    const std::uint64_t a = random.next();
    const std::uint64_t b = random.next();
    char id[64];
    std::snprintf(id, sizeof id, "%08X-%04X-%04X-%04X-%012llX@olmgen.invalid",
                  static_cast<unsigned>(a >> 32), static_cast<unsigned>((a >> 16) & 0xFFFF),
                  static_cast<unsigned>(a & 0xFFFF), static_cast<unsigned>(b >> 48),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return id;
}

std::string numbered(const char* format, std::size_t n) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, format, n);
    return buffer;
}

// Walks a description in archive order: directory members for every level, each mail's
// attachments before its document, aggregate documents after their folder's directory.
class Planner {
public:
    Planner(const ArchiveDescription& description, MemberSink* sink)
        : description_(description), sink_(sink) {}

    ArchiveFacts run() {
        if (!description_.categories.empty()) {
            file(
                "Categories.xml", [&] { return categoriesDocument(description_.categories); },
                Role::Other);
        }
        for (const Account& account : description_.accounts) {
            planAccount(account);
        }
        return std::move(facts_);
    }

private:
    void planAccount(const Account& account) {
        const bool local = account.name == kLocalAccount;
        std::string root;
        if (local) {
            root = "Local/";
            directory(root);
        } else {
            directory("Accounts/");
            root = "Accounts/" + account.name + "/";
            directory(root);
        }
        folder(account.name, account.name, "", root, true);
        const std::string messages = root + std::string(kMessages) + "/";
        directory(messages);
        for (const MailFolder& mailFolder : account.mailFolders) {
            planMailFolder(mailFolder, messages, account.name);
        }
        for (const ItemFolder& itemFolder : account.itemFolders) {
            planItemFolder(itemFolder, root, account.name);
        }
    }

    void planMailFolder(const MailFolder& mailFolder, const std::string& parentDir,
                        const std::string& parentKey) {
        const std::string dir = parentDir + mailFolder.name + "/";
        const std::string key = parentKey + "/" + mailFolder.name;
        directory(dir);
        folder(key, mailFolder.name, parentKey, dir, false);
        if (!mailFolder.mails.empty()) {
            directory(dir + std::string(kAttachments) + "/");
        }
        for (std::size_t i = 0; i < mailFolder.mails.size(); ++i) {
            planMail(mailFolder.mails[i], dir + numbered("message_%05zu.xml", i), dir, key);
        }
        for (const MailFolder& sub : mailFolder.folders) {
            planMailFolder(sub, dir, key);
        }
    }

    void planMail(const Mail& mail, const std::string& path, const std::string& dir,
                  const std::string& key) {
        const std::string messageId =
            mail.messageId.empty() ? derivedMessageId(path) : mail.messageId;
        ItemFacts item;
        item.kind = ItemKind::Mail;
        item.folderKey = key;
        item.documentPath = path;
        item.subject = mail.subject;
        item.sender = mail.from;
        item.to = mail.to;
        item.cc = mail.cc;
        item.bcc = mail.bcc;
        item.date = mail.sentTime;
        item.receivedTime = mail.receivedTime;
        std::vector<std::string> urls;
        for (std::size_t j = 0; j < mail.attachments.size(); ++j) {
            const Attachment& attachment = mail.attachments[j];
            const std::string fileName = attachment.fileName.empty()
                                             ? messageId + numbered("_%04zu", j)
                                             : attachment.fileName;
            const std::string memberPath = dir + std::string(kAttachments) + "/" + fileName;
            urls.push_back(memberPath);
            file(memberPath, attachment.content, Role::Attachment);
            item.attachments.push_back({attachment.name, attachment.extension,
                                        displayNameOf(attachment), memberPath,
                                        memberKeyOf(memberPath), attachment.content});
        }
        file(
            path, [&] { return mailDocument(mail, messageId, urls); }, Role::MailDocument);
        facts_.items.push_back(std::move(item));
    }

    void planItemFolder(const ItemFolder& itemFolder, const std::string& root,
                        const std::string& account) {
        std::vector<std::string> parts;
        for (std::size_t at = 0; at <= itemFolder.path.size();) {
            const std::size_t slash =
                std::min(itemFolder.path.find('/', at), itemFolder.path.size());
            if (slash > at) {
                parts.push_back(itemFolder.path.substr(at, slash - at));
            }
            at = slash + 1;
        }
        if (parts.empty()) {
            return;
        }
        // The first level is a type folder ("Calendar"); deeper levels hang below the account.
        std::string dir = root;
        std::string key;
        for (std::size_t level = 0; level < parts.size(); ++level) {
            dir += parts[level] + "/";
            const std::string parentKey = level <= 1 ? account : key;
            key = level == 0   ? account + "/" + parts[0]
                  : level == 1 ? account + "/" + parts[1]
                               : key + "/" + parts[level];
            directory(dir);
            folder(key, parts[level], parentKey, dir, false);
        }
        const auto aggregate = [&](const char* fileName, const char* rootName, ItemKind kind,
                                   const auto& items, const auto& render,
                                   const auto& describeItem) {
            if (items.empty()) {
                return;
            }
            const std::string path = dir + fileName;
            for (std::size_t i = 0; i < items.size(); ++i) {
                ItemFacts item;
                item.kind = kind;
                item.folderKey = key;
                item.documentPath = path;
                item.indexInDocument = i;
                describeItem(items[i], item);
                facts_.items.push_back(std::move(item));
            }
            file(
                path,
                [&] {
                    std::vector<std::string> elements;
                    for (const auto& entry : items) {
                        elements.push_back(render(entry));
                    }
                    return aggregateDocument(rootName, elements);
                },
                Role::Aggregate);
        };
        aggregate("Contacts.xml", "contacts", ItemKind::Contact, itemFolder.contacts,
                  contactElement, [](const Contact& c, ItemFacts& item) {
                      item.subject = c.displayName;
                      item.date = c.modDate;
                  });
        aggregate("Groups.xml", "groups", ItemKind::Group, itemFolder.groups, groupElement,
                  [](const Group& g, ItemFacts& item) {
                      item.subject = g.displayName;
                      item.to = g.members;
                      item.date = g.modDate;
                  });
        aggregate("Calendar.xml", "appointments", ItemKind::Event, itemFolder.events, eventElement,
                  [](const Event& e, ItemFacts& item) {
                      item.subject = e.summary;
                      item.sender = {"", e.organizer};
                      for (const Attendee& attendee : e.attendees) {
                          item.to.push_back({attendee.name, attendee.address});
                      }
                      item.date = e.startTime;
                  });
        aggregate("Tasks.xml", "tasks", ItemKind::Task, itemFolder.tasks, taskElement,
                  [](const Task& t, ItemFacts& item) {
                      item.subject = t.name;
                      item.date = t.modDate;
                  });
        aggregate("Notes.xml", "notes", ItemKind::Note, itemFolder.notes, noteElement,
                  [](const Note& n, ItemFacts& item) {
                      item.subject = n.title;
                      item.date = n.creationDate;
                  });
    }

    void directory(const std::string& path) {
        if (!emittedDirectories_.insert(path).second) {
            return;
        }
        if (sink_) {
            sink_->directory(path);
        }
    }

    template <typename Render> void file(const std::string& path, const Render& render, Role role) {
        if (sink_) {
            sink_->file(path, Payload(render()), role);
        }
    }
    void file(const std::string& path, const Payload& content, Role role) {
        if (sink_) {
            sink_->file(path, content, role);
        }
    }

    void folder(const std::string& key, const std::string& name, const std::string& parentKey,
                const std::string& dir, bool isAccount) {
        if (knownKeys_.insert(key).second) {
            facts_.folders.push_back({key, trimTrailingSpaces(name), parentKey, dir, isAccount});
        }
    }

    const ArchiveDescription& description_;
    MemberSink* sink_;
    ArchiveFacts facts_;
    std::set<std::string> emittedDirectories_;
    std::set<std::string> knownKeys_;
};

// Writes the members, damaging the archive as asked.
class ZipSink : public MemberSink {
public:
    ZipSink(ZipWriter& zip, const WriteOptions& options) : zip_(zip), options_(options) {}

    void directory(const std::string& path) override {
        if (options_.damage != Damage::NoDirectoryMembers) {
            zip_.addDirectory(path);
        }
    }

    void file(const std::string& path, const Payload& content, Role role) override {
        MemberOptions member;
        member.compression = options_.compression;
        Payload data = content;
        const bool target = role == Role::MailDocument && damagedMember.empty();
        if (target) {
            switch (options_.damage) {
            case Damage::CorruptLocalSignature:
                member.signature = 0x04024b50; // "PK\2\4"
                damagedMember = path;
                break;
            case Damage::WrongExtraFieldLength:
                // An extended-timestamp block after the ZIP64 one: valid ZIP, 29 bytes in all.
                member.extraFieldTail = std::string("\x55\x54\x05\x00\x01\x00\x5e\x47\x66", 9);
                damagedMember = path;
                break;
            case Damage::BadCrc: {
                const std::uint32_t crc = content.crc32() ^ 0x5A5A5A5Au;
                member.crc = crc == 0 ? 1 : crc;
                damagedMember = path;
                break;
            }
            case Damage::BrokenXml: {
                const std::string whole = content.bytes();
                data = Payload(whole.substr(0, whole.size() / 2));
                damagedMember = path;
                break;
            }
            default:
                break;
            }
        }
        zip_.addFile(path, data, member);
        if (options_.damage == Damage::GarbageBetweenMembers && role == Role::MailDocument) {
            if (damagedMember.empty()) {
                damagedMember = path;
            }
            writeGarbage();
        }
    }

    std::string damagedMember;

private:
    // Junk that never forms a real header but comes close: a data descriptor signature, a local
    // header signature with the wrong version byte, a central directory signature.
    void writeGarbage() {
        Random random(++garbageCount_);
        std::string junk;
        const std::size_t length = random.between(16, 200);
        for (std::size_t i = 0; i < length; ++i) {
            char c = static_cast<char>(random.next());
            junk += c == 'P' ? 'Q' : c;
        }
        junk.insert(random.between(0, junk.size()), std::string("PK\x03\x04\x14\x00", 6));
        junk.insert(random.between(0, junk.size()), std::string("PK\x07\x08", 4));
        junk.insert(random.between(0, junk.size()), std::string("PK\x01\x02", 4));
        zip_.writeRaw(junk);
    }

    ZipWriter& zip_;
    const WriteOptions& options_;
    std::uint64_t garbageCount_ = 0;
};

} // namespace

ArchiveFacts describe(const ArchiveDescription& description) {
    return Planner(description, nullptr).run();
}

WriteResult writeArchive(const ArchiveDescription& description, const std::filesystem::path& path,
                         const WriteOptions& options) {
    WriteResult result;
    std::filesystem::path temporary = path;
    temporary += ".part";
    {
        ZipWriter zip(temporary);
        ZipSink sink(zip, options);
        result.facts = Planner(description, &sink).run();
        result.facts.damagedMember = sink.damagedMember;
        if (options.damage == Damage::TruncatedFinalMember) {
            // Cut the file halfway through the last file member's data: what an interrupted
            // copy leaves behind (no central directory).
            const MemberRecord* last = nullptr;
            for (const MemberRecord& member : zip.members()) {
                if (!member.isDirectory) {
                    last = &member;
                }
            }
            const bool closed = zip.closeWithoutCentralDirectory();
            if (closed && last) {
                std::error_code error;
                std::filesystem::resize_file(temporary, last->dataOffset + last->compressedSize / 2,
                                             error);
                if (error) {
                    result.error = "cannot truncate " + temporary.string() + ": " + error.message();
                }
                result.facts.damagedMember = last->name;
            }
        } else {
            zip.finish();
        }
        if (result.error.empty()) {
            result.error = zip.error();
        }
    }
    std::error_code error;
    if (result.error.empty()) {
        std::filesystem::rename(temporary, path, error);
        if (error) {
            result.error = "cannot rename " + temporary.string() + " to " + path.string() + ": " +
                           error.message();
        }
    }
    if (!result.error.empty()) {
        std::filesystem::remove(temporary, error);
    }
    return result;
}

std::optional<Damage> damageFromName(std::string_view name) {
    for (Damage damage : allDamageModes()) {
        if (damageName(damage) == name) {
            return damage;
        }
    }
    return std::nullopt;
}

std::string_view damageName(Damage damage) {
    switch (damage) {
    case Damage::None:
        return "none";
    case Damage::GarbageBetweenMembers:
        return "garbage";
    case Damage::TruncatedFinalMember:
        return "truncated";
    case Damage::CorruptLocalSignature:
        return "bad-signature";
    case Damage::WrongExtraFieldLength:
        return "wrong-extra";
    case Damage::NoDirectoryMembers:
        return "no-directories";
    case Damage::BadCrc:
        return "bad-crc";
    case Damage::BrokenXml:
        return "broken-xml";
    }
    return "none";
}

std::vector<Damage> allDamageModes() {
    return {Damage::GarbageBetweenMembers,
            Damage::TruncatedFinalMember,
            Damage::CorruptLocalSignature,
            Damage::WrongExtraFieldLength,
            Damage::NoDirectoryMembers,
            Damage::BadCrc,
            Damage::BrokenXml};
}

} // namespace parvelle::olmgen
