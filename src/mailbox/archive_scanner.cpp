#include "mailbox/mailbox_converter.h"

#include <unordered_set>

#include "mailbox/member_paths.h"
#include "mailbox/zip_walk.h"
#include "platform/text.h"

namespace parvelle::mailbox {
namespace {

struct AggregateName {
    std::string_view name;
    AggregateType type;
};
constexpr AggregateName kAggregates[] = {
    {"Contacts.xml", AggregateType::Contacts}, {"Groups.xml", AggregateType::Groups},
    {"Tasks.xml", AggregateType::Tasks},       {"Notes.xml", AggregateType::Notes},
    {"Calendar.xml", AggregateType::Calendar},
};

bool containsAfterStart(std::string_view s, std::string_view what) {
    const auto p = s.find(what);
    return p != std::string_view::npos && p > 0;
}

} // namespace

void MailboxConverter::scan(const std::string& archivePath) {
    memberRecords_.clear();
    lastError_.clear();
    archiveOpened_ = false;
    membersFound_ = 0;
    state_.progressMode = ProgressMode::Scanning;
    state_.currentFolderName.clear();
    progress();

    ArchiveReader archive;
    if (!archive.open(archivePath)) {
        lastError_ = archive.error();
        return;
    }
    archiveOpened_ = true;
    archive.file().adviseSequential();
    const auto bytes = archive.file().bytes();
    state_.bytesTotal = static_cast<std::int64_t>(bytes.size());
    state_.bytesDone = 0;

    // Directories named explicitly, and those only implied by the paths of file members (an
    // archive re-packed without directory members still shows its folders).
    std::unordered_set<std::string> explicitDirs;
    std::vector<std::string> impliedDirs;
    std::unordered_set<std::string> impliedSeen;

    ZipWalkCallbacks cb;
    cb.stop = [this] { return stopRequested(); };
    cb.progress = [this](std::int64_t pos) { state_.bytesDone = pos; };
    cb.member = [&](const ZipMember& m) {
        ++membersFound_;
        const std::string& name = m.name;
        if (m.isDirectory) {
            if (name.find(kAttachmentsFolder) == std::string::npos) {
                state_.directoryEntries.push_back({name});
                explicitDirs.insert(name);
            }
            return;
        }
        if (name.empty())
            return;
        const std::string folderKey = memberFolderKey(name);
        const std::string entryKind = memberEntryKind(name);
        ItemSource source;
        source.offset = m.dataOffset;
        source.size = m.size;
        source.method = m.method;
        if (m.method != 0) {
            source.packedSize = m.packedSize;
            source.memberSize = m.size;
        }

        const auto slash = name.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            std::string dir = name.substr(0, slash + 1);
            if (dir.find(kAttachmentsFolder) == std::string::npos && impliedSeen.insert(dir).second)
                impliedDirs.push_back(std::move(dir));
        }

        bool handled = false;
        if (containsAfterStart(name, "message_")) {
            FetchFileDetails record;
            static_cast<ItemSource&>(record) = source;
            record.folderKey = folderKey;
            memberRecords_.push_back(std::move(record));
            progress();
            handled = true;
        }
        for (const AggregateName& agg : kAggregates) {
            const auto p = name.find(agg.name);
            if (p == std::string::npos)
                continue;
            if (p > 0) {
                if (m.method == 0) {
                    const std::string_view doc(
                        reinterpret_cast<const char*>(bytes.data() + m.dataOffset),
                        static_cast<std::size_t>(m.size));
                    splitAggregate(source, doc, folderKey, agg.type);
                } else if (auto doc = archive.read(source)) {
                    splitAggregate(source, *doc, folderKey, agg.type);
                }
                handled = true;
            }
            break;
        }
        if (handled)
            return;
        progress();
        AttachmentDetails details;
        static_cast<ItemSource&>(details) = source;
        state_.memberPaths.emplace(name, details);
        if (containsAfterStart(name, kAttachmentsFolder) && m.size != 0 &&
            text::equalsIgnoreAsciiCase(entryKind, kAttachmentsFolder)) {
            std::string key = attachmentMemberKey(name);
            if (!key.empty()) {
                details.memberKey = key;
                state_.archiveMembers.emplace(std::move(key), std::move(details));
            }
        }
    };
    walkZip(bytes, cb);
    state_.bytesDone = static_cast<std::int64_t>(bytes.size());

    for (std::string& dir : impliedDirs)
        if (!explicitDirs.count(dir))
            state_.directoryEntries.push_back({std::move(dir)});

    archive_ = std::move(archive);
    archiveOpenPath_ = archivePath;
    buildTree();
    extractEntries(archivePath);
}

} // namespace parvelle::mailbox
