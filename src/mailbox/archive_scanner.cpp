#include "mailbox/mailbox_converter.h"

#include <unordered_set>

#include "mailbox/member_paths.h"
#include "mailbox/scan_worker.h"
#include "mailbox/zip_walk.h"

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
    const auto bytes = archive.file().bytes();
    state_.bytesTotal = static_cast<std::int64_t>(bytes.size());
    state_.bytesDone = 0;
    ArchiveWindow window(bytes);
    if (!window.open(archivePath))
        archive.file().adviseSequential();
    InflatedMember inflated;
    // Item documents are summarised, and the member tables filled, while the walk goes on; the
    // summaries are applied in the model's own order afterwards.
    ScanWorker worker(state_);

    // Directories named explicitly, and those only implied by the paths of file members (an
    // archive re-packed without directory members still shows its folders).
    std::unordered_set<std::string> explicitDirs;
    std::vector<std::string> impliedDirs;
    std::unordered_set<std::string> impliedSeen;
    // Members come folder by folder: what depends only on a member's folder is worked out once
    // per run of members in the same folder.
    std::string lastDirectory;
    std::string folderKey;
    bool haveDirectory = false;

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
        const auto slash = name.rfind('/');
        const std::string_view directory = slash == std::string::npos
                                               ? std::string_view{}
                                               : std::string_view(name).substr(0, slash);
        const bool sameDirectory = haveDirectory && directory == lastDirectory;
        if (!sameDirectory) {
            lastDirectory.assign(directory);
            haveDirectory = true;
            folderKey = memberFolderKey(name);
            if (slash != std::string::npos && slash > 0) {
                std::string dir = name.substr(0, slash + 1);
                if (dir.find(kAttachmentsFolder) == std::string::npos &&
                    impliedSeen.insert(dir).second)
                    impliedDirs.push_back(std::move(dir));
            }
        }
        ItemSource source;
        source.offset = m.dataOffset;
        source.size = m.size;
        source.method = m.method;
        if (m.method != 0) {
            source.packedSize = m.packedSize;
            source.memberSize = m.size;
        }

        bool handled = false;
        if (containsAfterStart(name, "message_")) {
            FetchFileDetails record;
            static_cast<ItemSource&>(record) = source;
            record.folderKey = folderKey;
            memberRecords_.push_back(std::move(record));
            progress();
            handled = true;
            if (source.size > 0)
                if (const auto document = viewItemBytes(window, source, inflated))
                    worker.summarize(memberRecords_.size() - 1, *document);
        }
        for (const AggregateName& agg : kAggregates) {
            const auto p = name.find(agg.name);
            if (p == std::string::npos)
                continue;
            if (p > 0) {
                const std::size_t first = memberRecords_.size();
                // The whole document stays in view while it is cut and its items are queued.
                std::string_view doc;
                if (m.method == 0) {
                    const auto n = static_cast<std::size_t>(m.size);
                    if (const std::uint8_t* data = window.view(m.dataOffset, n))
                        doc = std::string_view(reinterpret_cast<const char*>(data), n);
                    splitAggregate(source, doc, folderKey, agg.type);
                } else if (const auto inflatedDoc = viewItemBytes(window, source, inflated)) {
                    doc = *inflatedDoc;
                    splitAggregate(source, doc, folderKey, agg.type);
                }
                for (std::size_t r = first; r < memberRecords_.size(); ++r) {
                    const FetchFileDetails& item = memberRecords_[r];
                    const std::int64_t start =
                        m.method == 0 ? item.offset - source.offset : item.innerOffset;
                    if (item.size > 0)
                        worker.summarize(r, doc.substr(static_cast<std::size_t>(start),
                                                       static_cast<std::size_t>(item.size)));
                }
                handled = true;
            }
            break;
        }
        if (handled)
            return;
        progress();
        worker.addMember(name, source);
    };
    walkZip(window, cb);
    state_.bytesDone = static_cast<std::int64_t>(bytes.size());
    inflated = {};

    for (std::string& dir : impliedDirs)
        if (!explicitDirs.count(dir))
            state_.directoryEntries.push_back({std::move(dir)});

    archive_ = std::move(archive);
    archiveOpenPath_ = archivePath;
    buildTree();
    summaries_ = worker.finish(memberRecords_.size());
    extractEntries(archivePath);
}

} // namespace parvelle::mailbox
