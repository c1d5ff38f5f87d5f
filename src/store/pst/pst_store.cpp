#include "store/pst/pst_store.h"

#include "platform/text.h"
#include "store/mapi/derived_properties.h"
#include "store/mapi/tags.h"
#include "store/pst/ltp_writer.h"
#include "store/pst/ndb_writer.h"
#include "store/pst/reader_messaging.h"

#include <cstdio>
#include <unistd.h>

namespace parvelle::pst {

namespace {

using mapi::PropValue;
namespace tags = mapi::tags;

// Well-known folders and objects of a new store, with the node ids Outlook gives them.
constexpr std::uint32_t kNidIpmSubtree = 0x8022;   // "Top of Personal Folders"
constexpr std::uint32_t kNidSearchRoot = 0x8042;   // finder ("Search Root")
constexpr std::uint32_t kNidDeletedItems = 0x8062; // wastebasket
constexpr std::uint32_t kNidSpamFolder = 0x2223;   // "SPAM Search Folder 2"
constexpr std::uint32_t kFirstUserFolderIndex = 0x404;

// Column sets of the tables, as Outlook's templates define them (row id and version are added
// by TableBuilder).
const std::vector<std::uint32_t> kHierarchyColumns{0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003,
                                                   0x3001001F, 0x36020003, 0x36030003, 0x360A000B,
                                                   0x3613001F, 0x66350003, 0x66360003};
const std::vector<std::uint32_t> kContentsColumns{
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x00390040, 0x0042001F, 0x0057000B,
    0x0058000B, 0x0070001F, 0x00710102, 0x0E03001F, 0x0E04001F, 0x0E060040, 0x0E070003,
    0x0E080003, 0x0E170003, 0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x0E3C0102,
    0x0E3D0102, 0x10970003, 0x30080040, 0x65C60003};
const std::vector<std::uint32_t> kAssocContentsColumns{
    0x001A001F, 0x0E070003, 0x0E170003, 0x3001001F, 0x6800001F, 0x6803000B, 0x68051003,
    0x682F001F, 0x70030003, 0x70040102, 0x70050102, 0x7006001F, 0x70070003};
const std::vector<std::uint32_t> kSearchContentsColumns{
    0x00170003, 0x001A001F, 0x00360003, 0x0037001F, 0x0042001F, 0x0057000B,
    0x0058000B, 0x0E03001F, 0x0E04001F, 0x0E05001F, 0x0E060040, 0x0E070003,
    0x0E080003, 0x0E170003, 0x0E2A000B, 0x30080040, 0x67F10003};
const std::vector<std::uint32_t> kAttachmentColumns{0x0E200003, 0x3704001F, 0x37050003, 0x370B0003};
const std::vector<std::uint32_t> kRecipientColumns{0x0C150003, 0x0E0F000B, 0x0FF90102, 0x0FFE0003,
                                                   0x0FFF0102, 0x3001001F, 0x3002001F, 0x3003001F,
                                                   0x300B0102, 0x39000003, 0x39FF001F, 0x3A40000B};

constexpr std::uint32_t kTagAttachDataObject = 0x3701000D;
constexpr std::uint32_t kTagAttachDataBinary = 0x37010102;
constexpr std::uint64_t kMaxAttachmentBytes = 0xFFFFFFFFull; // sizes are 32-bit in the format

std::uint32_t tableNid(std::uint32_t folderNid, std::uint32_t type) {
    return makeNid(type, nidIndex(folderNid));
}

std::uint64_t nodeContentSize(const NodeContent& c) {
    std::uint64_t total = 0;
    for (const Bytes& b : c.heapBlocks)
        total += blockTotalSize(Format::Unicode, b.size());
    if (c.heapBlocks.size() > 1)
        total += blockTotalSize(Format::Unicode, kDataTreeHeaderSize + 8 * c.heapBlocks.size());
    return total;
}

void writeNode(NdbWriter& ndb, std::uint32_t nid, std::uint32_t parent, const NodeContent& c) {
    const auto [data, sub] = writeNodeContent(ndb, c);
    ndb.putNode({nid, data, sub, parent});
}

void writeTable(NdbWriter& ndb, std::uint32_t nid, const TableBuilder& table) {
    SubnodeIds ids;
    writeNode(ndb, nid, 0, table.build(ndb, ids));
}

void writePropertyNode(NdbWriter& ndb, std::uint32_t nid, std::uint32_t parent,
                       PropertyContextBuilder& pc) {
    SubnodeIds ids;
    std::vector<SubnodeEntry> subnodes;
    pc.spill(ndb, ids, subnodes);
    writeNode(ndb, nid, parent, pc.build(std::move(subnodes)));
}

std::vector<std::uint32_t> withTagsOf(std::vector<std::uint32_t> columns,
                                      const std::vector<TagValues>& rows, std::uint32_t skip = 0) {
    for (const auto& row : rows)
        for (const auto& [tag, value] : row)
            if (tag != skip)
                columns.push_back(tag);
    return columns;
}

} // namespace

struct PstStore::Folder {
    FolderInfo info;
    FolderId parent = 0;
    TableBuilder hierarchy{kHierarchyColumns};
    TableBuilder contents{kContentsColumns};
    TableBuilder assoc{kAssocContentsColumns};
    std::map<std::uint32_t, PropValue> extraProps;
    bool dirty = true;
    bool tablesLoaded = true; // false for an existing folder until its tables are read
    bool search = false;      // a search folder of an existing file: listed, never rewritten
};

PstStore::PstStore() = default;

std::unique_ptr<PstStore> PstStore::open(const std::string& path, std::string& error) {
    std::unique_ptr<PstStore> store(new PstStore());
    store->finalPath_ = path;
    store->ndb_ = NdbWriter::open(path, error);
    if (!store->ndb_)
        return nullptr;
    if (!store->loadExisting(error)) {
        store->closed_ = true;
        return nullptr;
    }
    store->startWriter();
    return store;
}

bool PstStore::loadExisting(std::string& error) {
    auto reader = PstReader::open(finalPath_);
    if (!reader) {
        error = reader.error();
        return false;
    }
    existing_ = std::make_unique<PstReader>(std::move(*reader));
    auto props = existing_->storeProperties();
    auto ipm = existing_->ipmSubtree();
    if (!props || !ipm) {
        error = finalPath_ + " is damaged: " + (props ? ipm.error() : props.error());
        return false;
    }
    displayName_ = stringProp(*props, 0x3001).value_or("");
    if (auto it = props->find(0x0FF9); it != props->end() && it->second.data.size() == 16)
        std::copy(it->second.data.begin(), it->second.data.end(), storeUid_.begin());
    passwordCrc_ = existing_->passwordCrc();
    ipmSubtree_ = *ipm;

    auto names = existing_->namedProperties();
    if (!names) {
        error = finalPath_ + " is damaged: " + names.error();
        return false;
    }
    std::vector<mapi::NamedProperty> entries;
    for (const NamedProperty& n : *names) {
        if (n.propId != mapi::kFirstNamedId + entries.size())
            break; // ids are dense; a gap would shift every later id
        mapi::NamedProperty name{mapi::Guid::fromBytes(n.guid.data()), std::uint32_t{0}};
        if (n.isString)
            name.name = n.name;
        else
            name.name = n.number;
        entries.push_back(std::move(name));
    }
    nameMap_.assign(std::move(entries));
    nameMapWritten_ = nameMap_.entries().size();
    if (!loadFolderTree(kNidRootFolder, kNidRootFolder, 0, error))
        return false;
    for (auto& [nid, f] : folders_)
        f->dirty = false;
    return true;
}

bool PstStore::loadFolderTree(FolderId nid, FolderId parent, int depth, std::string& error) {
    if (depth > 64 || folders_.count(nid)) {
        error = finalPath_ + " is damaged: its folder tree loops";
        return false;
    }
    auto f = std::make_unique<Folder>();
    f->info.id = nid;
    f->parent = parent;
    f->search = nidType(nid) == kNidTypeSearchFolder;
    f->tablesLoaded = false;
    std::vector<FolderId> children;
    if (auto read = existing_->folder(nid)) {
        f->info.name = stringProp(read->props, 0x3001).value_or("");
        f->info.containerClass = stringProp(read->props, 0x3613).value_or("");
        f->info.contentCount =
            static_cast<std::int32_t>(integerProp(read->props, 0x3602).value_or(0));
        f->info.unreadCount =
            static_cast<std::int32_t>(integerProp(read->props, 0x3603).value_or(0));
        if (!f->search)
            children = read->subfolders;
    } else if (!f->search) {
        error = finalPath_ + " is damaged: " + read.error();
        return false;
    }
    f->info.children = children;
    folders_[nid] = std::move(f);
    for (FolderId child : children)
        if (!loadFolderTree(child, nid, depth + 1, error))
            return false;
    return true;
}

bool PstStore::loadFolderTables(Folder& f, std::string& error) {
    if (f.tablesLoaded)
        return true;
    f.tablesLoaded = true;
    auto read = existing_->folder(f.info.id);
    if (!read) {
        error = finalPath_ + " is damaged: " + read.error();
        return false;
    }
    auto rawRows = [](const std::vector<TableRow>& rows, const std::vector<std::uint32_t>& base,
                      TableBuilder& table) {
        std::vector<std::uint32_t> columns = base;
        for (const TableRow& row : rows)
            for (const auto& [id, value] : row.cells)
                columns.push_back(propTag(id, value.type));
        table = TableBuilder(columns);
        for (const TableRow& row : rows) {
            std::map<std::uint32_t, Bytes> cells;
            for (const auto& [id, value] : row.cells)
                cells[propTag(id, value.type)] = value.data;
            table.setRawRow(row.rowId, cells);
        }
    };
    rawRows(read->contents, kContentsColumns, f.contents);
    rawRows(read->associatedContents, kAssocContentsColumns, f.assoc);
    // The hierarchy is rebuilt from the children's own properties.
    for (FolderId child : f.info.children)
        if (auto it = folders_.find(child); it != folders_.end())
            setHierarchyRow(f, *it->second);
    return true;
}
PstStore::~PstStore() {
    stopWriter(); // writes what is queued
    if (!closed_ && ndb_) {
        std::string ignored;
        commitNow(ignored); // keep what was added; a created file keeps its temporary name
    }
}

void PstStore::startWriter() {
    writer_ = std::make_unique<platform::BackgroundWorker>(kMaxQueued, 1, 1, kMaxQueuedBytes);
}

void PstStore::stopWriter() {
    drain();
    writer_.reset();
}

std::string PstStore::writerFailure(bool wait) const {
    if (writer_)
        for (const platform::BackgroundWorker::Failure& failure : writer_->takeFailures(wait))
            if (writeError_.empty())
                writeError_ = failure.reason;
    return writeError_;
}

std::string PstStore::drain() const {
    return writerFailure(true);
}

std::unique_ptr<PstStore> PstStore::create(const std::string& path, const Options& options,
                                           std::string& error) {
    std::unique_ptr<PstStore> store(new PstStore());
    store->finalPath_ = path;
    const std::string temporary = path + ".partial";
    for (const std::string& p : {path, temporary}) {
        if (NdbWriter::lockedByAnotherProcess(p)) {
            error = "the PST file " + p + " is being written by another process";
            return nullptr;
        }
    }
    ::unlink(temporary.c_str()); // a leftover of an earlier run that died
    store->ndb_ = NdbWriter::create(temporary, error);
    if (!store->ndb_)
        return nullptr;
    store->renameOnClose_ = true;
    if (!store->initNew(options, error) || !store->commitNow(error)) {
        store->closed_ = true;
        ::unlink(temporary.c_str());
        return nullptr;
    }
    store->startWriter();
    return store;
}

std::uint32_t PstStore::passwordCrcOf(std::string_view password) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(password.data());
    return computeCrc(std::span(p, password.size()));
}

const FolderInfo* PstStore::folder(FolderId id) const {
    drain(); // the counts change as messages are written
    auto it = folders_.find(id);
    return it == folders_.end() ? nullptr : &it->second->info;
}

std::optional<FolderId> PstStore::findSubfolder(FolderId parent, std::string_view name) const {
    const FolderInfo* p = folder(parent);
    if (!p)
        return std::nullopt;
    for (FolderId child : p->children) {
        const FolderInfo* c = folder(child);
        if (c && c->name == name)
            return child;
    }
    return std::nullopt;
}

PstStore::Folder& PstStore::newFolder(std::uint32_t nid, FolderId parent, const std::string& name,
                                      const std::string& containerClass) {
    auto f = std::make_unique<Folder>();
    f->info.id = nid;
    f->info.name = name;
    f->info.containerClass = containerClass;
    f->parent = parent;
    Folder& ref = *f;
    folders_[nid] = std::move(f);
    if (parent != nid) {
        if (auto it = folders_.find(parent); it != folders_.end())
            it->second->info.children.push_back(nid);
    }
    markFolderChanged(ref);
    return ref;
}

void PstStore::setHierarchyRow(Folder& parent, const Folder& f) {
    std::map<std::uint32_t, PropValue> row{
        {tags::kDisplayName, PropValue::unicode(f.info.name)},
        {tags::kContentCount, PropValue::i4(f.info.contentCount)},
        {tags::kContentUnreadCount, PropValue::i4(f.info.unreadCount)},
        {tags::kSubfolders, PropValue::boolean(!f.info.children.empty())},
        {0x66350003, PropValue::i4(0)},
        {0x66360003, PropValue::i4(0)}};
    if (!f.info.containerClass.empty())
        row[tags::kContainerClass] = PropValue::unicode(f.info.containerClass);
    parent.hierarchy.setRow(f.info.id, row);
}

void PstStore::markFolderChanged(Folder& f) {
    f.dirty = !f.search;
    if (f.parent == f.info.id)
        return;
    auto it = folders_.find(f.parent);
    if (it == folders_.end())
        return;
    setHierarchyRow(*it->second, f);
    it->second->dirty = !it->second->search;
}

bool PstStore::initNew(const Options& options, std::string& error) {
    displayName_ = options.displayName;
    commitEvery_ = std::max<std::size_t>(options.commitEvery, 1);
    if (!options.password.empty())
        passwordCrc_ = passwordCrcOf(options.password);
    storeUid_ = mapi::Guid::random().bytes();
    // Folder node ids below the first user folder are the well-known ones.
    while (nidIndex(ndb_->allocateNid(kNidTypeNormalFolder)) + 1 < kFirstUserFolderIndex) {
    }

    newFolder(kNidRootFolder, kNidRootFolder, "", "");
    Folder& top = newFolder(kNidIpmSubtree, kNidRootFolder, "Top of Personal Folders", "");
    top.extraProps[0x36DA0102] = PropValue::binary({0x01, 0x04, 0x00, 0x00, 0x10, 0x00});
    newFolder(kNidSearchRoot, kNidRootFolder, "Search Root", "");
    Folder& deleted = newFolder(kNidDeletedItems, kNidIpmSubtree, "Deleted Items", "IPF.Note");
    deleted.extraProps[tags::kComment] = PropValue::unicode("Deleted Items folder");
    ipmSubtree_ = kNidIpmSubtree;

    // Outlook never leaves the name-to-id map empty, and some readers refuse a map whose streams
    // are missing: start it with the common names every new store carries.
    for (std::uint32_t lid : {0x8502u, 0x8503u, 0x850Eu, 0x8516u, 0x8517u, 0x8552u, 0x8554u})
        nameMap_.idFor({mapi::psets::kCommon, lid});
    nameMap_.idFor({mapi::psets::kPublicStrings, std::string("Keywords")});

    writeFixedNodes();
    storeDirty_ = true;
    nameMapWritten_ = static_cast<std::size_t>(-1);
    (void)error;
    return true;
}

void PstStore::writeFixedNodes() {
    NdbWriter& ndb = *ndb_;
    // Templates of the tables every new folder and message gets.
    writeTable(ndb, kNidHierarchyTableTemplate, TableBuilder(kHierarchyColumns));
    writeTable(ndb, kNidContentsTableTemplate, TableBuilder(kContentsColumns));
    writeTable(ndb, kNidAssocContentsTableTemplate, TableBuilder(kAssocContentsColumns));
    writeTable(ndb, kNidSearchContentsTableTemplate, TableBuilder(kSearchContentsColumns));
    writeTable(ndb, kNidAttachmentTable, TableBuilder(kAttachmentColumns));
    writeTable(ndb, kNidRecipientTable, TableBuilder(kRecipientColumns));
    writeTable(ndb, 0x62B, TableBuilder({0x001A001F, 0x66050003})); // receive folders
    writeTable(ndb, 0x64C,
               TableBuilder({0x000F0040, 0x00390040, 0x0E070003, 0x0E100003, 0x0E140003, 0x0E29001F,
                             0x0EA20003, 0x67F10003}));
    writeTable(ndb, kNidSearchTableIndexTemplate,
               TableBuilder({0x0E330014, 0x0E370102, 0x0E380003}));
    writeTable(ndb, 0x6D7,
               TableBuilder({0x001A001F, 0x0E300102, 0x0E310102, 0x0E330014, 0x0E340102, 0x0E380003,
                             0x0E3E0102}));
    writeTable(ndb, 0x6F8, TableBuilder({0x0E330014, 0x30070040}));

    // Search bookkeeping: empty queues, the activity list naming the spam folder, and the
    // gatherer descriptor as a new store starts it.
    for (std::uint32_t nid : {kNidSearchManagementQueue, kNidSearchDomainObject,
                              kNidSearchGathererQueue, kNidSearchGathererFolderQueue})
        ndb.putNode({nid, 0, 0, 0});
    Bytes activity(4);
    storeLe32(activity.data(), kNidSpamFolder);
    ndb.putNode({kNidSearchActivityList, ndb.writeData(activity), 0, 0});
    Bytes descriptor(88, 0);
    descriptor[16] = 1;
    descriptor[24] = 1;
    descriptor[28] = 1;
    ndb.putNode({kNidSearchGathererDescriptor, ndb.writeData(descriptor), 0, 0});

    // The spam search folder with its update queue, criteria and contents table.
    PropertyContextBuilder spam;
    spam.add(tags::kDisplayName, PropValue::unicode("SPAM Search Folder 2"));
    spam.add(tags::kContentCount, PropValue::i4(0));
    spam.add(tags::kContentUnreadCount, PropValue::i4(0));
    spam.add(tags::kSubfolders, PropValue::boolean(false));
    writePropertyNode(ndb, kNidSpamFolder, kNidRootFolder, spam);
    ndb.putNode({tableNid(kNidSpamFolder, kNidTypeSearchUpdateQueue), 0, 0, 0});
    PropertyContextBuilder criteria;
    criteria.add(0x660B0003, PropValue::i4(0));
    writePropertyNode(ndb, tableNid(kNidSpamFolder, kNidTypeSearchCriteriaObject), 0, criteria);
    writeTable(ndb, tableNid(kNidSpamFolder, kNidTypeSearchContentsTable),
               TableBuilder(kSearchContentsColumns));
    Folder& root = *folders_[kNidRootFolder];
    root.hierarchy.setRow(kNidSpamFolder,
                          std::map<std::uint32_t, PropValue>{
                              {tags::kDisplayName, PropValue::unicode("SPAM Search Folder 2")},
                              {tags::kContentCount, PropValue::i4(0)},
                              {tags::kContentUnreadCount, PropValue::i4(0)},
                              {tags::kSubfolders, PropValue::boolean(false)}});
}

void PstStore::writeStoreObject() {
    auto entryId = [&](std::uint32_t nid) {
        // Flags, the store's id, the node id.
        mapi::Binary id(4 + storeUid_.size() + 4, 0);
        std::copy(storeUid_.begin(), storeUid_.end(), id.begin() + 4);
        storeLe32(id.data() + 4 + storeUid_.size(), nid);
        return id;
    };
    PropertyContextBuilder pc;
    pc.add(tags::kRecordKey, PropValue::binary(mapi::Binary(storeUid_.begin(), storeUid_.end())));
    pc.add(tags::kDisplayName, PropValue::unicode(displayName_));
    pc.add(0x35DF0003, PropValue::i4(0x89));                          // PidTagValidFolderMask
    pc.add(0x35E00102, PropValue::binary(entryId(kNidIpmSubtree)));   // PidTagIpmSubtreeEntryId
    pc.add(0x35E30102, PropValue::binary(entryId(kNidDeletedItems))); // wastebasket
    pc.add(0x35E70102, PropValue::binary(entryId(kNidSearchRoot)));   // finder
    pc.add(0x6633000B, PropValue::boolean(true));                     // PidTagPstLrNoRestrictions
    pc.add(0x66FA0003, PropValue::i4(0x000E000D));                    // PidTagPstHiddenCount...
    if (passwordCrc_)
        pc.add(tags::kPstPassword, PropValue::u4(*passwordCrc_));
    writePropertyNode(*ndb_, kNidMessageStore, 0, pc);
    storeDirty_ = false;
}

void PstStore::writeNameMap() {
    // Streams: GUIDs (from index 3 on; 1 and 2 are PS_MAPI and PS_PUBLIC_STRINGS), NAMEID
    // entries, and the string names; plus the hash buckets Outlook looks names up by.
    constexpr std::uint32_t kBuckets = 251;
    Bytes guids, entries, strings;
    std::map<std::uint32_t, Bytes> buckets;
    std::map<mapi::Guid, std::uint16_t> guidIndex{{mapi::psets::kMapi, 1},
                                                  {mapi::psets::kPublicStrings, 2}};
    std::vector<mapi::NamedProperty> names;
    {
        std::lock_guard lock(nameMutex_);
        names = nameMap_.entries();
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const mapi::NamedProperty& name = names[i];
        auto [it, added] = guidIndex.try_emplace(name.propertySet,
                                                 static_cast<std::uint16_t>(guidIndex.size() + 1));
        if (added) {
            const auto b = name.propertySet.bytes();
            guids.insert(guids.end(), b.begin(), b.end());
        }
        const std::uint16_t guidField =
            static_cast<std::uint16_t>((it->second << 1) | (name.isNumeric() ? 0 : 1));
        std::uint32_t key = 0;
        std::uint32_t stored = 0;
        if (name.isNumeric()) {
            key = stored = std::get<std::uint32_t>(name.name);
        } else {
            const std::string le = text::utf8ToUtf16le(std::get<std::string>(name.name));
            const auto* p = reinterpret_cast<const std::uint8_t*>(le.data());
            key = computeCrc(std::span(p, le.size()));
            stored = static_cast<std::uint32_t>(strings.size());
            Bytes len(4);
            storeLe32(len.data(), static_cast<std::uint32_t>(le.size()));
            strings.insert(strings.end(), len.begin(), len.end());
            strings.insert(strings.end(), le.begin(), le.end());
            while (strings.size() % 4 != 0)
                strings.push_back(0);
        }
        auto entry = [&](std::uint32_t id) {
            Bytes e(8);
            storeLe32(e.data(), id);
            storeLe16(e.data() + 4, guidField);
            storeLe16(e.data() + 6, static_cast<std::uint16_t>(i));
            return e;
        };
        const Bytes streamEntry = entry(stored);
        entries.insert(entries.end(), streamEntry.begin(), streamEntry.end());
        const Bytes bucketEntry = entry(key);
        Bytes& bucket = buckets[(key ^ guidField) % kBuckets];
        bucket.insert(bucket.end(), bucketEntry.begin(), bucketEntry.end());
    }
    PropertyContextBuilder pc;
    pc.add(0x00010003, PropValue::i4(kBuckets));
    pc.addRaw(0x00020102, guids);
    pc.addRaw(0x00030102, entries);
    pc.addRaw(0x00040102, strings);
    for (std::uint32_t b = 0; b < kBuckets; ++b) {
        auto it = buckets.find(b);
        pc.addRaw((0x1000u + b) << 16 | 0x0102, it == buckets.end() ? Bytes{} : it->second);
    }
    writePropertyNode(*ndb_, kNidNameToIdMap, 0, pc);
    nameMapWritten_ = names.size();
}

void PstStore::writeFolder(Folder& f) {
    PropertyContextBuilder pc;
    pc.add(tags::kDisplayName, PropValue::unicode(f.info.name));
    pc.add(tags::kContentCount, PropValue::i4(f.info.contentCount));
    pc.add(tags::kContentUnreadCount, PropValue::i4(f.info.unreadCount));
    pc.add(tags::kSubfolders, PropValue::boolean(!f.info.children.empty()));
    if (!f.info.containerClass.empty())
        pc.add(tags::kContainerClass, PropValue::unicode(f.info.containerClass));
    for (const auto& [tag, value] : f.extraProps)
        pc.add(tag, value);
    writePropertyNode(*ndb_, f.info.id, f.parent, pc);
    writeTable(*ndb_, tableNid(f.info.id, kNidTypeHierarchyTable), f.hierarchy);
    writeTable(*ndb_, tableNid(f.info.id, kNidTypeContentsTable), f.contents);
    writeTable(*ndb_, tableNid(f.info.id, kNidTypeAssocContentsTable), f.assoc);
    f.dirty = false;
}

std::optional<FolderId> PstStore::addFolder(FolderId parent, const std::string& name,
                                            const std::string& containerClass, std::string& error) {
    if (closed_ || !folder(parent)) {
        error = closed_ ? "the PST file is closed" : "no such parent folder";
        return std::nullopt;
    }
    if (!loadFolderTables(*folders_[parent], error))
        return std::nullopt;
    const std::uint32_t nid = ndb_->allocateNid(kNidTypeNormalFolder);
    newFolder(nid, parent, name, containerClass);
    markFolderChanged(*folders_[parent]); // its subfolder flag
    return nid;
}

std::optional<std::uint16_t> PstStore::namedPropertyId(const mapi::NamedProperty& name) {
    std::lock_guard lock(nameMutex_);
    return nameMap_.idFor(name);
}

std::optional<TagValues> PstStore::resolveProperties(mapi::PropertyBag& bag, std::string& error) {
    TagValues out;
    // Tagged values come in id order; named ones get this store's ids, in no particular order,
    // and are sorted in after them.
    out.reserve(bag.tagged().size() + bag.named().size());
    for (auto& [id, value] : bag.releaseTagged())
        if (value.isWellFormed())
            out.emplace_back(mapi::makeTag(id, value.type()), std::move(value));
    const std::size_t taggedCount = out.size();
    bool resolved = true;
    if (!bag.named().empty()) {
        std::lock_guard lock(nameMutex_);
        for (auto& [name, value] : bag.releaseNamed()) {
            if (!value.isWellFormed())
                continue;
            const std::optional<std::uint16_t> id = nameMap_.idFor(name);
            if (!id)
                resolved = false;
            else
                out.emplace_back(mapi::makeTag(*id, value.type()), std::move(value));
        }
    }
    if (!resolved) {
        error = "the store has no more ids for named properties";
        return std::nullopt;
    }
    // Named properties (this store's ids, from 0x8000) come after the tagged ones in no
    // particular order: sorting them is enough unless a tagged value has an id in their range,
    // where a named property's tag wins over a tagged value of the same tag.
    const auto byTag = [](const auto& a, const auto& b) { return a.first < b.first; };
    const auto named = out.begin() + static_cast<std::ptrdiff_t>(taggedCount);
    std::sort(named, out.end(), byTag);
    if (named != out.begin() && named != out.end() && std::prev(named)->first >= named->first) {
        std::stable_sort(out.begin(), out.end(), byTag);
        for (std::size_t i = 1; i < out.size();)
            if (out[i - 1].first == out[i].first)
                out.erase(out.begin() + static_cast<std::ptrdiff_t>(i - 1));
            else
                ++i;
    }
    return out;
}

namespace {

// A resolved property by its id, whatever its type (null when absent).
const PropValue* valueOf(const TagValues& props, mapi::PropTag tag) {
    const std::uint32_t low = std::uint32_t{mapi::tagId(tag)} << 16;
    const auto it = std::lower_bound(props.begin(), props.end(), low,
                                     [](const auto& p, std::uint32_t t) { return p.first < t; });
    return it != props.end() && (it->first >> 16) == (low >> 16) ? &it->second : nullptr;
}

std::string stringOf(const TagValues& props, mapi::PropTag tag) {
    const PropValue* v = valueOf(props, tag);
    const std::string* text = v ? v->asString() : nullptr;
    return text ? *text : std::string();
}

} // namespace

bool PstStore::validate(const mapi::Message& message, std::string& error) const {
    for (const mapi::Attachment& a : message.attachments) {
        if (a.isEmbedded()) {
            if (!validate(*a.embedded, error))
                return false;
        } else if (a.content.size > kMaxAttachmentBytes) {
            error = "the attachment \"" + a.props.string(tags::kDisplayName) +
                    "\" is 4 GB or larger, which a PST file cannot store";
            return false;
        } else if (a.content.size > 0 && !a.content.read) {
            error = "the attachment \"" + a.props.string(tags::kDisplayName) +
                    "\" has no content to read";
            return false;
        }
    }
    return true;
}

std::optional<PstStore::Written> PstStore::writeMessage(mapi::Message& m, std::string& error) {
    auto props = resolveProperties(m.props, error);
    if (!props)
        return std::nullopt;
    NdbWriter& ndb = *ndb_;
    SubnodeIds ids;
    std::vector<SubnodeEntry> subnodes;
    // A message that cannot be written completely leaves no blocks behind.
    auto abandon = [&ndb](const std::vector<SubnodeEntry>& written) {
        for (const SubnodeEntry& e : written) {
            ndb.release(e.bidData);
            ndb.release(e.bidSub);
        }
        return std::nullopt;
    };

    // Recipient table: one row per recipient, every recipient property a column.
    std::vector<TagValues> recipientRows;
    for (mapi::Recipient& r : m.recipients) {
        auto row = resolveProperties(r.props, error);
        if (!row)
            return std::nullopt;
        recipientRows.push_back(std::move(*row));
    }
    TableBuilder recipients(withTagsOf(kRecipientColumns, recipientRows));
    for (std::size_t i = 0; i < recipientRows.size(); ++i)
        recipients.setRow(static_cast<std::uint32_t>(i), recipientRows[i]);
    {
        SubnodeIds tableIds;
        const auto [data, sub] = writeNodeContent(ndb, recipients.build(ndb, tableIds));
        subnodes.push_back({kNidRecipientTable, data, sub});
    }

    // Attachments: each a subnode with its own properties, listed in the attachment table.
    if (!m.attachments.empty()) {
        std::vector<TagValues> rows;
        std::vector<std::uint32_t> rowIds;
        for (mapi::Attachment& a : m.attachments) {
            auto aprops = resolveProperties(a.props, error);
            if (!aprops)
                return abandon(subnodes);
            std::erase_if(*aprops, [](const auto& kv) { return (kv.first >> 16) == 0x3701; });
            PropertyContextBuilder pc;
            SubnodeIds attachIds;
            std::vector<SubnodeEntry> attachSubnodes;
            std::uint64_t contentSize = 0;
            if (a.isEmbedded()) {
                // One shared with the caller's copy of the message is left as it is.
                if (a.embedded.use_count() > 1)
                    a.embedded = std::make_shared<mapi::Message>(*a.embedded);
                auto inner = writeMessage(*a.embedded, error);
                if (!inner)
                    return abandon(subnodes);
                const std::uint32_t nid = attachIds.next(kNidTypeNormalMessage);
                attachSubnodes.push_back({nid, inner->bidData, inner->bidSub});
                Bytes object(8);
                storeLe32(object.data(), nid);
                storeLe32(object.data() + 4, static_cast<std::uint32_t>(inner->size));
                pc.addRaw(kTagAttachDataObject, object);
                contentSize = inner->size;
            } else {
                contentSize = a.content.size;
                bool readable = true;
                if (a.content.size <= kMaxHeapAllocation) {
                    Bytes bytes(static_cast<std::size_t>(a.content.size));
                    readable = bytes.empty() || a.content.read(0, bytes);
                    pc.addRaw(kTagAttachDataBinary, std::move(bytes));
                } else {
                    // Large contents are read a run of blocks at a time (one read per run, not
                    // per block: each read is a system call) and copied into the blocks.
                    const std::size_t blockData = maxBlockDataSize(Format::Unicode);
                    std::vector<std::uint64_t> blocks;
                    std::span<const std::uint8_t> run;
                    for (std::uint64_t at = 0; readable && at < a.content.size;) {
                        if (run.empty()) {
                            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(
                                kContentRunBlocks * blockData, a.content.size - at));
                            contentRun_.resize(std::max(contentRun_.size(), n));
                            run = {contentRun_.data(), n};
                            readable = a.content.read(at, {contentRun_.data(), n});
                            if (!readable)
                                break;
                        }
                        const std::size_t n = std::min(blockData, run.size());
                        blocks.push_back(ndb.writeExternalBlock(run.first(n)));
                        run = run.subspan(n);
                        at += n;
                    }
                    if (readable) {
                        const std::uint32_t nid = attachIds.next(kNidTypeLtp);
                        attachSubnodes.push_back(
                            {nid, ndb.writeDataTree(blocks, a.content.size), 0});
                        pc.addSubnodeValue(kTagAttachDataBinary, nid);
                    } else {
                        for (std::uint64_t bid : blocks)
                            ndb.release(bid);
                    }
                }
                if (!readable) {
                    error = "cannot read the attachment \"" +
                            stringOf(*aprops, tags::kDisplayName) + "\"";
                    return abandon(subnodes);
                }
            }
            std::uint64_t propBytes = 0;
            for (const auto& [tag, value] : *aprops)
                propBytes += encodeValue(value).size();
            putInOrder(*aprops, std::uint32_t{tags::kAttachSize},
                       PropValue::u4(static_cast<std::uint32_t>(
                           std::min<std::uint64_t>(contentSize + propBytes, kMaxAttachmentBytes))));
            for (const auto& [tag, value] : *aprops)
                pc.add(tag, value);
            pc.spill(ndb, attachIds, attachSubnodes);
            const std::uint32_t nid = ids.next(kNidTypeAttachment);
            const auto [data, sub] = writeNodeContent(ndb, pc.build(std::move(attachSubnodes)));
            subnodes.push_back({nid, data, sub});
            rows.push_back(std::move(*aprops));
            rowIds.push_back(nid);
        }
        TableBuilder table(withTagsOf(kAttachmentColumns, rows));
        for (std::size_t i = 0; i < rows.size(); ++i)
            table.setRow(rowIds[i], rows[i]);
        SubnodeIds tableIds;
        const auto [data, sub] = writeNodeContent(ndb, table.build(ndb, tableIds));
        subnodes.push_back({kNidAttachmentTable, data, sub});
    }

    // The message's own properties; its size is what all of the above occupies plus the
    // property context itself, which the size value (stored inline) does not change.
    PropertyContextBuilder pc;
    for (const auto& [tag, value] : *props)
        if (tag != tags::kEntryId)
            pc.add(tag, value);
    pc.add(tags::kMessageSize, PropValue::i4(0));
    pc.spill(ndb, ids, subnodes);
    std::sort(subnodes.begin(), subnodes.end(),
              [](const SubnodeEntry& a, const SubnodeEntry& b) { return a.nid < b.nid; });
    std::uint64_t size = nodeContentSize(pc.build(subnodes));
    for (const SubnodeEntry& s : subnodes)
        size += ndb.storedSize(s.bidData) + ndb.storedSize(s.bidSub);
    const std::size_t leaves = (subnodes.size() + 339) / 340;
    size += leaves *
            blockTotalSize(Format::Unicode, 8 + 24 * std::min<std::size_t>(subnodes.size(), 340));
    if (leaves > 1)
        size += blockTotalSize(Format::Unicode, 8 + 16 * leaves);
    pc.add(tags::kMessageSize,
           PropValue::u4(static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFull))));
    const auto [data, sub] = writeNodeContent(ndb, pc.build(std::move(subnodes)));
    return Written{data, sub, size, std::move(*props)};
}

namespace {

// What a queued message holds in memory: the contents held there already and those that must be
// read before it is queued (not those read from their file as they are written).
std::uint64_t queuedContentBytes(const mapi::Message& m) {
    return mapi::contentBytes(
        m, [](const mapi::AttachmentContent& c) { return !c.readableLater || c.inMemory; });
}

// What a queued message holds in memory in all, as the writer's queue counts it: the message's
// estimated size less the contents that stay in their file until they are written.
std::uint64_t heldBytes(const mapi::Message& m) {
    return mapi::estimateMessageSize(m) -
           mapi::contentBytes(
               m, [](const mapi::AttachmentContent& c) { return c.readableLater && !c.inMemory; });
}

} // namespace

bool PstStore::assignNamedIds(const mapi::Message& m, std::string& error) {
    auto assign = [&](const mapi::PropertyBag& bag) {
        std::lock_guard lock(nameMutex_);
        for (const auto& [name, value] : bag.named())
            if (value.isWellFormed() && !nameMap_.idFor(name))
                return false;
        return true;
    };
    bool ok = assign(m.props);
    for (const mapi::Recipient& r : m.recipients)
        ok = ok && assign(r.props);
    for (const mapi::Attachment& a : m.attachments)
        ok = ok && assign(a.props);
    if (!ok) {
        error = "the store has no more ids for named properties";
        return false;
    }
    for (const mapi::Attachment& a : m.attachments)
        if (a.isEmbedded() && !assignNamedIds(*a.embedded, error))
            return false;
    return true;
}

bool PstStore::readContents(mapi::Message& m, std::string& error) {
    for (mapi::Attachment& a : m.attachments) {
        if (a.isEmbedded()) {
            // The caller's message shares its embedded messages: this copy gets its own.
            a.embedded = std::make_shared<mapi::Message>(*a.embedded);
            if (!readContents(*a.embedded, error))
                return false;
            continue;
        }
        if (a.content.size == 0 || a.content.readableLater)
            continue; // read by the writing thread as it writes
        const auto size = static_cast<std::size_t>(a.content.size);
        std::shared_ptr<std::uint8_t[]> bytes =
            std::make_shared_for_overwrite<std::uint8_t[]>(size);
        if (!a.content.read(0, {bytes.get(), size})) {
            error = "cannot read the attachment \"" + a.props.string(tags::kDisplayName) + "\"";
            return false;
        }
        a.content.read = [bytes, size](std::uint64_t offset, std::span<std::uint8_t> out) {
            if (offset > size || out.size() > size - offset)
                return false;
            std::copy_n(bytes.get() + offset, out.size(), out.begin());
            return true;
        };
    }
    return true;
}

bool PstStore::addMessage(FolderId folderId, mapi::Message message, std::string& error) {
    if (closed_ || folders_.find(folderId) == folders_.end()) {
        error = closed_ ? "the PST file is closed" : "no such folder";
        return false;
    }
    if (!validate(message, error))
        return false;
    // Derived here rather than on the writing thread, which has the most to do.
    mapi::deriveOnSave(message);
    if (!assignNamedIds(message, error))
        return false;
    if (queuedContentBytes(message) > kMaxQueuedContent || !writer_) {
        if (const std::string failed = drain(); !failed.empty()) {
            error = failed;
            return false;
        }
        return storeMessage(folderId, message, error);
    }
    if (!readContents(message, error))
        return false;
    if (const std::string failed = writerFailure(false); !failed.empty()) {
        error = failed;
        return false;
    }
    const std::uint64_t held = heldBytes(message);
    writer_->submit(
        {},
        [this, folderId, queued = std::move(message)]() mutable {
            if (writerFailed_)
                return std::string(); // the first failure is the one reported
            std::string failure;
            const std::string subject = queued.props.string(tags::kSubject);
            try {
                if (storeMessage(folderId, queued, failure))
                    return std::string();
            } catch (const std::exception& e) {
                failure = e.what();
            }
            writerFailed_ = true;
            return "the PST file could not be written (at the message \"" + subject +
                   "\"): " + failure;
        },
        held);
    return true;
}

bool PstStore::storeMessage(FolderId folderId, mapi::Message& message, std::string& error) {
    auto it = folders_.find(folderId);
    if (!loadFolderTables(*it->second, error))
        return false;
    auto written = writeMessage(message, error);
    if (!written)
        return false;
    const std::uint32_t nid = ndb_->allocateNid(kNidTypeNormalMessage);
    ndb_->putNode({nid, written->bidData, written->bidSub, folderId});

    Folder& f = *it->second;
    putInOrder(written->props, std::uint32_t{tags::kMessageSize},
               PropValue::u4(static_cast<std::uint32_t>(
                   std::min<std::uint64_t>(written->size, 0xFFFFFFFFull))));
    f.contents.setRow(nid, written->props);
    ++f.info.contentCount;
    const PropValue* flags = valueOf(written->props, tags::kMessageFlags);
    if (((flags ? flags->asInt32().value_or(0) : 0) & tags::kMsgFlagRead) == 0)
        ++f.info.unreadCount;
    markFolderChanged(f);

    ++messageCount_;
    // Commit every commitEvery messages, and at least a quarter of the store apart, so that the
    // B-trees (rewritten whole) cost a bounded share of the writing.
    if (++sinceCommit_ >= std::max(commitEvery_, messageCount_ / 4))
        return commitNow(error, false);
    return true;
}

bool PstStore::commit(std::string& error) {
    if (closed_) {
        error = "the PST file is closed";
        return false;
    }
    const std::string failed = drain();
    if (!commitNow(error))
        return false;
    if (!failed.empty()) {
        error = failed; // what was written before the failure is kept
        return false;
    }
    return true;
}

bool PstStore::commitNow(std::string& error, bool wait) {
    for (auto& [nid, f] : folders_) {
        if (!f->dirty)
            continue;
        if (!loadFolderTables(*f, error))
            return false;
        writeFolder(*f);
    }
    bool namesAdded = false;
    {
        std::lock_guard lock(nameMutex_);
        namesAdded = nameMapWritten_ != nameMap_.entries().size();
    }
    if (namesAdded)
        writeNameMap();
    if (storeDirty_)
        writeStoreObject();
    if (!ndb_->commit(error, wait))
        return false;
    sinceCommit_ = 0;
    return true;
}

bool PstStore::close(std::string& error) {
    if (closed_) {
        error = "the PST file is closed";
        return false;
    }
    const bool committed = commit(error);
    stopWriter();
    if (!committed)
        return false;
    closed_ = true;
    if (renameOnClose_ && std::rename(ndb_->path().c_str(), finalPath_.c_str()) != 0) {
        error = "cannot rename " + ndb_->path() + " to " + finalPath_;
        ndb_.reset();
        return false;
    }
    ndb_.reset();
    return true;
}

} // namespace parvelle::pst
