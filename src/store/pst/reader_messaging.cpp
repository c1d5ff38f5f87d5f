#include "store/pst/reader_messaging.h"

#include "platform/codepage.h"
#include "platform/text.h"

#include <cstdio>

namespace parvelle::pst {

namespace {

std::uint32_t entryIdNid(const std::vector<std::uint8_t>& entryId) {
    // A PST entry id: rgbFlags(4), the store's provider UID(16), then the NID(4).
    return entryId.size() >= 24 ? loadLe32(entryId.data() + 20) : 0;
}

// The Windows ANSI code page whose 8-bit strings travel as the given internet code page: a
// message sent as ISO-2022-JP keeps its PtypString8 values in Shift_JIS (932), and so on.
std::uint32_t ansiCodepageOf(std::uint32_t internetCodepage) {
    switch (internetCodepage) {
    case 50220:
    case 50221:
    case 50222:
    case 51932:
        return 932;
    case 52936:
    case 54936:
    case 936:
        return 936;
    case 50225:
    case 51949:
        return 949;
    case 51950:
        return 950;
    case 20866:
    case 21866:
    case 28595:
        return 1251;
    case 28591:
    case 28605:
    case 20127:
    case 65001:
        return 1252;
    case 28592:
        return 1250;
    case 28597:
        return 1253;
    case 28599:
        return 1254;
    case 28598:
    case 38598:
        return 1255;
    case 28596:
        return 1256;
    case 28594:
    case 28603:
        return 1257;
    default:
        return internetCodepage;
    }
}

// The code page of an object's 8-bit strings: PidTagMessageCodepage, else the ANSI code page of
// its internet code page, else `fallback`.
std::uint32_t codepageOf(const PropertyMap& props, std::uint32_t fallback) {
    if (const auto cp = integerProp(props, propid::kMessageCodepage); cp && *cp > 0)
        return static_cast<std::uint32_t>(*cp);
    if (const auto cp = integerProp(props, propid::kInternetCodepage); cp && *cp > 0)
        return ansiCodepageOf(static_cast<std::uint32_t>(*cp));
    return fallback;
}

} // namespace

std::string decodeCodepage(std::span<const std::uint8_t> bytes, std::uint32_t codepage) {
    return codepage::toUtf8(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
        codepage == 0 ? codepage::kWindows1252 : static_cast<int>(codepage));
}

std::optional<std::int64_t> integerProp(const PropertyMap& props, std::uint16_t id) {
    const auto it = props.find(id);
    if (it == props.end())
        return std::nullopt;
    const auto& d = it->second.data;
    switch (it->second.type) {
    case kPtypBoolean:
        return d.size() >= 1 ? std::optional<std::int64_t>(d[0] != 0) : std::nullopt;
    case kPtypInteger16:
        return d.size() >= 2
                   ? std::optional<std::int64_t>(static_cast<std::int16_t>(loadLe16(d.data())))
                   : std::nullopt;
    case kPtypInteger32:
    case kPtypErrorCode:
        return d.size() >= 4
                   ? std::optional<std::int64_t>(static_cast<std::int32_t>(loadLe32(d.data())))
                   : std::nullopt;
    case kPtypInteger64:
    case kPtypCurrency:
        return d.size() >= 8
                   ? std::optional<std::int64_t>(static_cast<std::int64_t>(loadLe64(d.data())))
                   : std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<std::uint64_t> timeProp(const PropertyMap& props, std::uint16_t id) {
    const auto it = props.find(id);
    if (it == props.end() || it->second.type != kPtypTime || it->second.data.size() < 8)
        return std::nullopt;
    return loadLe64(it->second.data.data());
}

std::optional<std::string> stringProp(const PropertyMap& props, std::uint16_t id,
                                      std::uint32_t codepage) {
    const auto it = props.find(id);
    if (it == props.end())
        return std::nullopt;
    const auto& d = it->second.data;
    std::string text;
    if (it->second.type == kPtypString) {
        text = text::utf16leToUtf8(
            std::string_view(reinterpret_cast<const char*>(d.data()), d.size()));
    } else if (it->second.type == kPtypString8) {
        text = decodeCodepage(d, codepage);
    } else {
        return std::nullopt;
    }
    // Stored strings may carry their terminator.
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::string filetimeToIso8601(std::uint64_t filetime) {
    const std::int64_t seconds = static_cast<std::int64_t>(filetime / 10000000) - 11644473600LL;
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const std::int64_t secOfDay = seconds - days * 86400;
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2);
    char buf[128];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(secOfDay / 3600),
                  static_cast<long long>(secOfDay / 60 % 60),
                  static_cast<long long>(secOfDay % 60));
    return buf;
}

ReadResult<PstReader> PstReader::open(const std::string& path) {
    return finish(NodeDatabase::open(path));
}

ReadResult<PstReader> PstReader::fromBytes(std::vector<std::uint8_t> bytes) {
    return finish(NodeDatabase::fromBytes(std::move(bytes)));
}

ReadResult<PstReader> PstReader::finish(ReadResult<NodeDatabase> db) {
    if (!db)
        return ReadResult<PstReader>::failure(db.error());
    PstReader store(std::move(*db));
    if (const auto props = store.storeProperties())
        store.storeCodepage_ = codepageOf(*props, 0);
    // ANSI stores rarely name their code page, yet their folder names are in it; the first
    // messages that name one tell which (Unicode stores keep folder names in UTF-16). Only a
    // few are asked, so that opening a large store stays cheap.
    if (store.storeCodepage_ == 0 && store.header().format == Format::Ansi) {
        int asked = 0;
        for (const NbtEntry& node : store.db_.allNodes()) {
            if (nidType(node.nid) != kNidTypeNormalMessage)
                continue;
            if (++asked > 16)
                break;
            const auto props = readPropertyContext(store.db_, {node.bidData, node.bidSub});
            if (props && (store.storeCodepage_ = codepageOf(*props, 0)) != 0)
                break;
        }
    }
    return store;
}

ReadResult<PropertyMap> PstReader::storeProperties() const {
    const auto node = db_.findNode(kNidMessageStore);
    if (!node)
        return ReadResult<PropertyMap>::failure("the message store node is missing");
    return readPropertyContext(db_, {node->bidData, node->bidSub});
}

std::optional<std::uint32_t> PstReader::passwordCrc() const {
    const auto props = storeProperties();
    if (!props)
        return std::nullopt;
    const auto crc = integerProp(*props, propid::kPstPassword);
    if (!crc || *crc == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(*crc);
}

ReadResult<std::uint32_t> PstReader::ipmSubtree() const {
    using R = ReadResult<std::uint32_t>;
    const auto props = storeProperties();
    if (!props)
        return R::failure(props.error());
    const auto it = props->find(propid::kIpmSubtreeEntryId);
    if (it == props->end())
        return R::failure("the message store names no top folder");
    const std::uint32_t nid = entryIdNid(it->second.data);
    if (nidType(nid) != kNidTypeNormalFolder)
        return R::failure("the message store's top folder id is not a folder");
    return nid;
}

ReadResult<PstFolder> PstReader::folder(std::uint32_t nid) const {
    using R = ReadResult<PstFolder>;
    const auto node = db_.findNode(nid);
    if (!node || nidType(nid) != kNidTypeNormalFolder)
        return R::failure("folder " + hexId(nid) + " does not exist");
    PstFolder f;
    f.nid = nid;
    f.parentNid = node->nidParent;
    auto props = readPropertyContext(db_, {node->bidData, node->bidSub});
    if (!props)
        return R::failure("folder " + hexId(nid) + ": " + props.error());
    f.props = std::move(*props);
    // Each table is optional to a reader: a folder without one simply lists nothing there.
    auto readTable = [&](std::uint32_t type) -> ReadResult<std::vector<TableRow>> {
        const auto tableNode = db_.findNode(makeNid(type, nidIndex(nid)));
        if (!tableNode)
            return std::vector<TableRow>{};
        auto table = readTableContext(db_, {tableNode->bidData, tableNode->bidSub});
        if (!table)
            return ReadResult<std::vector<TableRow>>::failure(table.error());
        return std::move(table->rows);
    };
    auto hierarchy = readTable(kNidTypeHierarchyTable);
    auto contents = readTable(kNidTypeContentsTable);
    auto assoc = readTable(kNidTypeAssocContentsTable);
    for (auto* t : {&hierarchy, &contents, &assoc}) {
        if (!*t)
            return R::failure("folder " + hexId(nid) + ": " + t->error());
    }
    for (const TableRow& row : *hierarchy)
        f.subfolders.push_back(row.rowId);
    f.contents = std::move(*contents);
    f.associatedContents = std::move(*assoc);
    return f;
}

ReadResult<PstMessage> PstReader::message(std::uint32_t nid) const {
    const auto node = db_.findNode(nid);
    if (!node)
        return ReadResult<PstMessage>::failure("message " + hexId(nid) + " does not exist");
    return readMessage(nid, {node->bidData, node->bidSub});
}

ReadResult<PstMessage> PstReader::readMessage(std::uint32_t nid, const NodeRef& ref) const {
    using R = ReadResult<PstMessage>;
    const std::string what = nid ? "message " + hexId(nid) : std::string("embedded message");
    auto node = openNodeContext(db_, ref);
    if (!node)
        return R::failure(what + ": " + node.error());
    auto props = readPropertyContext(*node);
    if (!props)
        return R::failure(what + ": " + props.error());
    PstMessage m;
    m.nid = nid;
    m.ref = ref;
    m.props = std::move(*props);
    m.codepage = codepageOf(m.props, storeCodepage_);
    auto subTable = [&](std::uint32_t tableNid) -> ReadResult<std::vector<TableRow>> {
        const auto sub = node->subnodes.find(tableNid);
        if (sub == node->subnodes.end())
            return std::vector<TableRow>{};
        auto table = readTableContext(db_, {sub->second.bidData, sub->second.bidSub});
        if (!table)
            return ReadResult<std::vector<TableRow>>::failure(table.error());
        return std::move(table->rows);
    };
    auto recipients = subTable(kNidRecipientTable);
    if (!recipients)
        return R::failure(what + " recipients: " + recipients.error());
    for (auto& row : *recipients)
        m.recipients.push_back(std::move(row.cells));
    auto attachments = subTable(kNidAttachmentTable);
    if (!attachments)
        return R::failure(what + " attachments: " + attachments.error());
    for (auto& row : *attachments) {
        const auto sub = node->subnodes.find(row.rowId);
        if (sub == node->subnodes.end())
            return R::failure(what + ": attachment " + hexId(row.rowId) + " is missing");
        PstAttachment a;
        a.nid = row.rowId;
        a.ref = {sub->second.bidData, sub->second.bidSub};
        a.tableRow = std::move(row.cells);
        const auto context = openNodeContext(db_, a.ref);
        if (!context)
            return R::failure(what + ": attachment " + hexId(a.nid) + ": " + context.error());
        auto attachProps = readPropertyContext(*context, false);
        if (!attachProps)
            return R::failure(what + ": attachment " + hexId(a.nid) + ": " + attachProps.error());
        // Only the data itself stays in its subnode; long names and the like are loaded.
        for (auto& [id, value] : *attachProps) {
            if (value.subnode == 0 || id == propid::kAttachDataBinary)
                continue;
            auto bytes = readHnid(*context, value.subnode);
            if (!bytes)
                return R::failure(what + ": attachment " + hexId(a.nid) + ": " + bytes.error());
            value.data = std::move(*bytes);
            value.subnode = 0;
        }
        a.props = std::move(*attachProps);
        m.attachments.push_back(std::move(a));
    }
    return m;
}

ReadResult<NodeContext> PstReader::attachmentContext(const PstAttachment& attachment) const {
    return openNodeContext(db_, attachment.ref);
}

ReadResult<PstMessage> PstReader::embeddedMessage(const PstAttachment& attachment) const {
    using R = ReadResult<PstMessage>;
    const auto it = attachment.props.find(propid::kAttachDataBinary);
    if (it == attachment.props.end() || it->second.type != kPtypObject)
        return R::failure("the attachment holds no embedded message");
    const auto context = attachmentContext(attachment);
    if (!context)
        return R::failure(context.error());
    // The value of a PtypObject property is the object's subnode NID and its size.
    std::uint32_t objectNid = it->second.subnode;
    if (objectNid == 0 && it->second.data.size() >= 4)
        objectNid = loadLe32(it->second.data.data());
    const auto sub = context->subnodes.find(objectNid);
    if (sub == context->subnodes.end())
        return R::failure("the embedded message's subnode is missing");
    return readMessage(0, {sub->second.bidData, sub->second.bidSub});
}

ReadResult<std::uint64_t>
PstReader::attachmentData(const PstAttachment& attachment,
                          const std::function<void(std::span<const std::uint8_t>)>& visit) const {
    using R = ReadResult<std::uint64_t>;
    const auto it = attachment.props.find(propid::kAttachDataBinary);
    if (it == attachment.props.end() || it->second.type != kPtypBinary)
        return R::failure("the attachment holds no binary data");
    if (it->second.subnode == 0) {
        visit(it->second.data);
        return std::uint64_t{it->second.data.size()};
    }
    const auto context = attachmentContext(attachment);
    if (!context)
        return R::failure(context.error());
    const auto sub = context->subnodes.find(it->second.subnode);
    if (sub == context->subnodes.end())
        return R::failure("the attachment's data subnode is missing");
    return db_.forEachDataBlock(sub->second.bidData, visit);
}

ReadResult<std::vector<std::uint8_t>>
PstReader::attachmentBytes(const PstAttachment& attachment) const {
    std::vector<std::uint8_t> out;
    const auto size = attachmentData(attachment, [&](std::span<const std::uint8_t> b) {
        out.insert(out.end(), b.begin(), b.end());
    });
    if (!size)
        return ReadResult<std::vector<std::uint8_t>>::failure(size.error());
    return out;
}

ReadResult<std::vector<NamedProperty>> PstReader::namedProperties() const {
    using R = ReadResult<std::vector<NamedProperty>>;
    const auto node = db_.findNode(kNidNameToIdMap);
    if (!node)
        return R::failure("the named-property map is missing");
    const auto props = readPropertyContext(db_, {node->bidData, node->bidSub});
    if (!props)
        return R::failure(props.error());
    auto stream = [&](std::uint16_t id) -> const std::vector<std::uint8_t>* {
        const auto it = props->find(id);
        return it == props->end() ? nullptr : &it->second.data;
    };
    const auto* guids = stream(0x0002);
    const auto* entries = stream(0x0003);
    const auto* strings = stream(0x0004);
    std::vector<NamedProperty> out;
    if (!entries)
        return out;
    // PS_MAPI and PS_PUBLIC_STRINGS are implied by GUID indexes 1 and 2.
    static constexpr std::array<std::uint8_t, 16> kPsMapi = {0x28, 0x03, 0x02, 0x00, 0x00, 0x00,
                                                             0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
                                                             0x00, 0x00, 0x00, 0x46};
    static constexpr std::array<std::uint8_t, 16> kPsPublicStrings = {
        0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    for (std::size_t off = 0; off + 8 <= entries->size(); off += 8) {
        const std::uint8_t* e = entries->data() + off;
        NamedProperty p;
        p.number = loadLe32(e);
        const std::uint16_t guidField = loadLe16(e + 4);
        p.isString = (guidField & 1) != 0;
        const std::uint16_t guidIndex = guidField >> 1;
        p.propId = static_cast<std::uint16_t>(0x8000 + loadLe16(e + 6));
        if (guidIndex == 1) {
            p.guid = kPsMapi;
        } else if (guidIndex == 2) {
            p.guid = kPsPublicStrings;
        } else if (guidIndex >= 3 && guids && (guidIndex - 3u) * 16 + 16 <= guids->size()) {
            std::copy_n(guids->data() + (guidIndex - 3) * 16, 16, p.guid.begin());
        }
        if (p.isString && strings && std::uint64_t{p.number} + 4 <= strings->size()) {
            const std::uint32_t length = loadLe32(strings->data() + p.number);
            if (length <= strings->size() - p.number - 4)
                p.name = text::utf16leToUtf8(std::string_view(
                    reinterpret_cast<const char*>(strings->data() + p.number + 4), length));
        }
        out.push_back(std::move(p));
    }
    return out;
}

} // namespace parvelle::pst
