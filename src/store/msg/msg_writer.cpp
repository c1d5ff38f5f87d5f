#include "store/msg/msg_writer.h"

#include "platform/codepage.h"
#include "platform/text.h"
#include "store/mapi/little_endian.h"
#include "store/mapi/name_id_map.h"
#include "store/mapi/tags.h"
#include "store/msg/atomic_file.h"
#include "store/msg/msg_format.h"
#include "store/msg/name_id_streams.h"

#include <algorithm>
#include <cstring>

namespace parvelle::msg {

namespace {

using mapi::PropType;
using mapi::PropValue;
using NodeId = cfb::Tree::NodeId;

enum class ObjectKind { TopLevel, Embedded };

constexpr std::uint32_t kEntryFlags = kPropAttrReadable | kPropAttrWritable;
constexpr int kMaxEmbeddingDepth = 64;

using mapi::appendLe16;
using mapi::appendLe32;
using mapi::appendLe64;
std::uint64_t doubleBits(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return bits;
}
std::uint32_t floatBits(double d) {
    const float f = static_cast<float>(d);
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}
std::vector<std::uint8_t> utf16le(const std::string& utf8, bool terminated) {
    std::vector<std::uint8_t> out(2 * utf8.size() + 2);
    out.resize(text::utf8ToUtf16leInto(utf8, out.data()));
    if (terminated) {
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

// The property stream of one object: a header, then 16 bytes per property.
class PropertyStream {
public:
    explicit PropertyStream(std::vector<std::uint8_t> header) : data_(std::move(header)) {}
    void fixed(mapi::PropTag tag, std::uint64_t value) {
        appendLe32(data_, tag);
        appendLe32(data_, kEntryFlags);
        appendLe64(data_, value);
    }
    void variable(mapi::PropTag tag, std::uint32_t size) {
        appendLe32(data_, tag);
        appendLe32(data_, kEntryFlags);
        appendLe32(data_, size);
        appendLe32(data_, 0);
    }
    std::vector<std::uint8_t> take() { return std::move(data_); }

private:
    std::vector<std::uint8_t> data_;
};

// The code page that 8-bit strings of a message are written in.
int stringCodePage(const mapi::PropertyBag& props, int inherited) {
    for (mapi::PropTag tag : {mapi::tags::kMessageCodepage, mapi::tags::kInternetCodepage}) {
        const std::int32_t cp = props.int32(tag, 0);
        if (cp > 0 && codepage::isSupported(cp))
            return cp;
    }
    return inherited;
}

// Gives every named property of the message (embedded messages included) its id in `names`;
// fails when the nesting or the number of names is more than a file can hold.
Status collectNames(const mapi::Message& m, mapi::NameIdMap& names, int depth) {
    if (depth > kMaxEmbeddingDepth)
        return Status::failure("embedded messages nested too deeply");
    auto add = [&](const mapi::PropertyBag& bag) -> Status {
        for (const auto& [name, value] : bag.named())
            if (!names.idFor(name))
                return Status::failure("too many named properties for one MSG file");
        return Status::success();
    };
    if (Status s = add(m.props); !s)
        return s;
    for (const auto& r : m.recipients)
        if (Status s = add(r.props); !s)
            return s;
    for (const auto& a : m.attachments) {
        if (Status s = add(a.props); !s)
            return s;
        if (a.embedded)
            if (Status s = collectNames(*a.embedded, names, depth + 1); !s)
                return s;
    }
    return Status::success();
}

// The row counts and attachment sizes of the message and its embedded messages, in the order the
// builder meets them.
Status checkCounts(const mapi::Message& m) {
    if (m.recipients.size() > kMaxRecipients)
        return Status::failure("a message file holds at most 2048 recipients");
    if (m.attachments.size() > kMaxAttachments)
        return Status::failure("a message file holds at most 2048 attachments");
    for (const mapi::Attachment& a : m.attachments) {
        if (a.embedded) {
            if (Status s = checkCounts(*a.embedded); !s)
                return s;
        } else if (a.content.size > 0xFFFFFFFFULL) {
            return Status::failure("attachment \"" +
                                   a.props.string(mapi::tags::kAttachLongFilename) +
                                   "\" is 4 GB or larger, more than a message file can hold");
        }
    }
    return Status::success();
}

// Everything that can keep a message from being written as a file, checked before anything is
// built.
Status checkLimits(const mapi::Message& message, mapi::NameIdMap& names) {
    if (Status s = collectNames(message, names, 0); !s)
        return s;
    return checkCounts(message);
}

class MsgBuilder {
public:
    Result<cfb::Tree> build(const mapi::Message& message) {
        if (Status s = checkLimits(message, names_); !s)
            return Result<cfb::Tree>::failure(s.error());
        tree_.setClsid(cfb::Tree::kRoot, kMessageClsid);
        if (Status s = writeNameIds(); !s)
            return Result<cfb::Tree>::failure(s.error());
        const int cp = stringCodePage(message.props, codepage::ansiCodePage());
        if (Status s = writeMessage(cfb::Tree::kRoot, message, ObjectKind::TopLevel, cp); !s)
            return Result<cfb::Tree>::failure(s.error());
        return std::move(tree_);
    }

private:
    Status writeNameIds() {
        auto storage = tree_.addStorage(cfb::Tree::kRoot, kNameIdStorage);
        if (!storage)
            return Status::failure(storage.error());
        NameIdStreams streams = encodeNameIdStreams(names_);
        if (Status s = tree_.addStream(*storage, kGuidStream, std::move(streams.guids)); !s)
            return s;
        if (Status s = tree_.addStream(*storage, kEntryStream, std::move(streams.entries)); !s)
            return s;
        if (Status s = tree_.addStream(*storage, kStringStream, std::move(streams.strings)); !s)
            return s;
        for (auto& [id, bytes] : streams.buckets)
            if (Status s = tree_.addStream(*storage, valueStreamName((id << 16) | 0x0102),
                                           std::move(bytes));
                !s)
                return s;
        return Status::success();
    }

    Status writeMessage(NodeId storage, const mapi::Message& m, ObjectKind kind, int inheritedCp) {
        const int cp = stringCodePage(m.props, inheritedCp);

        std::vector<std::uint8_t> header(8, 0);
        const auto recipients = static_cast<std::uint32_t>(m.recipients.size());
        const auto attachments = static_cast<std::uint32_t>(m.attachments.size());
        appendLe32(header, recipients);  // next recipient id
        appendLe32(header, attachments); // next attachment id
        appendLe32(header, recipients);
        appendLe32(header, attachments);
        if (kind == ObjectKind::TopLevel)
            header.resize(kTopLevelHeaderSize, 0);

        // Strings are stored as Unicode: say so, whatever mask the model carries.
        mapi::PropertyBag props = m.props;
        props.setInt(kStoreSupportMask,
                     props.int32(kStoreSupportMask, kDefaultStoreSupportMask) | kStoreUnicodeOk);
        if (Status s = writeProperties(storage, props, std::move(header), cp, {}); !s)
            return s;

        for (std::uint32_t i = 0; i < recipients; ++i) {
            auto r = tree_.addStorage(storage, recipientStorageName(i));
            if (!r)
                return Status::failure(r.error());
            if (Status s =
                    writeProperties(*r, m.recipients[i].props,
                                    std::vector<std::uint8_t>(kRecipientHeaderSize, 0), cp, {});
                !s)
                return s;
        }
        for (std::uint32_t i = 0; i < attachments; ++i) {
            auto a = tree_.addStorage(storage, attachmentStorageName(i));
            if (!a)
                return Status::failure(a.error());
            if (Status s = writeAttachment(*a, m.attachments[i], cp); !s)
                return s;
        }
        return Status::success();
    }

    Status writeAttachment(NodeId storage, const mapi::Attachment& a, int cp) {
        // The attachment data is written from the content or the embedded message, never from a
        // value of the same id left in the property bag.
        mapi::PropertyBag props = a.props;
        props.remove(mapi::tags::kAttachDataBinary);
        std::vector<std::pair<mapi::PropTag, std::uint32_t>> extra;
        if (a.embedded) {
            extra.push_back({mapi::tags::kAttachDataObject, kStorageValueSize});
            auto sub = tree_.addStorage(storage, kEmbeddedMessageStorage);
            if (!sub)
                return Status::failure(sub.error());
            if (Status s = writeMessage(*sub, *a.embedded, ObjectKind::Embedded, cp); !s)
                return s;
        } else {
            // Below 4 GB: checkLimits refused larger contents.
            extra.push_back(
                {mapi::tags::kAttachDataBinary, static_cast<std::uint32_t>(a.content.size)});
            cfb::StreamSource source{a.content.size, a.content.read};
            if (Status s = tree_.addStream(storage, valueStreamName(mapi::tags::kAttachDataBinary),
                                           std::move(source));
                !s)
                return s;
        }
        return writeProperties(storage, props, std::vector<std::uint8_t>(kAttachmentHeaderSize, 0),
                               cp, extra);
    }

    // Writes the property stream of one object and the value streams of its variable-size
    // properties. `extra` entries (tag, size) describe values whose streams the caller writes.
    Status writeProperties(NodeId storage, const mapi::PropertyBag& bag,
                           std::vector<std::uint8_t> header, int cp,
                           const std::vector<std::pair<mapi::PropTag, std::uint32_t>>& extra) {
        std::vector<std::pair<std::uint16_t, const PropValue*>> items;
        for (const auto& [id, value] : bag.tagged())
            items.push_back({id, &value});
        for (const auto& [name, value] : bag.named())
            if (auto id = names_.find(name))
                items.push_back({*id, &value});
        std::stable_sort(items.begin(), items.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        items.erase(std::unique(items.begin(), items.end(),
                                [](const auto& a, const auto& b) { return a.first == b.first; }),
                    items.end());

        PropertyStream stream(std::move(header));
        for (const auto& [tag, size] : extra)
            stream.variable(tag, size);
        for (const auto& [id, value] : items) {
            bool skip = false;
            for (const auto& [tag, size] : extra)
                skip = skip || mapi::tagId(tag) == id;
            if (skip)
                continue;
            if (Status s = writeProperty(storage, stream, id, *value, cp); !s)
                return s;
        }
        return tree_.addStream(storage, kPropertiesStream, stream.take());
    }

    Status writeProperty(NodeId storage, PropertyStream& stream, std::uint16_t id,
                         const PropValue& value, int cp) {
        if (!value.isWellFormed())
            return Status::success(); // nothing the format could hold
        auto tagOf = [id](PropType t) { return mapi::makeTag(id, t); };
        auto addStream = [&](mapi::PropTag tag, std::vector<std::uint8_t> bytes) {
            return tree_.addStream(storage, valueStreamName(tag), std::move(bytes));
        };
        const auto& v = value.storage();
        switch (value.type()) {
        case PropType::I2:
            stream.fixed(tagOf(PropType::I2),
                         static_cast<std::uint16_t>(std::get<std::int16_t>(v)));
            return Status::success();
        case PropType::Long:
        case PropType::Error:
            stream.fixed(tagOf(value.type()),
                         static_cast<std::uint32_t>(std::get<std::int32_t>(v)));
            return Status::success();
        case PropType::Boolean:
            stream.fixed(tagOf(PropType::Boolean), std::get<bool>(v) ? 1 : 0);
            return Status::success();
        case PropType::Float:
            stream.fixed(tagOf(PropType::Float), floatBits(std::get<double>(v)));
            return Status::success();
        case PropType::Double:
        case PropType::AppTime:
            stream.fixed(tagOf(value.type()), doubleBits(std::get<double>(v)));
            return Status::success();
        case PropType::Currency:
        case PropType::I8:
            stream.fixed(tagOf(value.type()),
                         static_cast<std::uint64_t>(std::get<std::int64_t>(v)));
            return Status::success();
        case PropType::SysTime:
            stream.fixed(tagOf(PropType::SysTime), std::get<mapi::FileTime>(v).ticks);
            return Status::success();
        case PropType::Unicode:
        case PropType::String8: {
            const std::string& s = std::get<std::string>(v);
            std::vector<std::uint8_t> bytes =
                utf16le(value.type() == PropType::String8 ? codepage::toUtf8(s, cp) : s, false);
            const mapi::PropTag tag = tagOf(PropType::Unicode);
            stream.variable(tag, static_cast<std::uint32_t>(bytes.size() + 2));
            return addStream(tag, std::move(bytes));
        }
        case PropType::Binary: {
            const auto& b = std::get<mapi::Binary>(v);
            const mapi::PropTag tag = tagOf(PropType::Binary);
            stream.variable(tag, static_cast<std::uint32_t>(b.size()));
            return addStream(tag, b);
        }
        case PropType::Guid: {
            const auto bytes = std::get<mapi::Guid>(v).bytes();
            const mapi::PropTag tag = tagOf(PropType::Guid);
            stream.variable(tag, 16);
            return addStream(tag, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
        }
        case PropType::MvI2:
        case PropType::MvLong:
        case PropType::MvDouble:
        case PropType::MvAppTime:
        case PropType::MvCurrency:
        case PropType::MvI8:
        case PropType::MvSysTime:
        case PropType::MvGuid: {
            std::vector<std::uint8_t> bytes = fixedMultiValues(value);
            const mapi::PropTag tag = tagOf(value.type());
            stream.variable(tag, static_cast<std::uint32_t>(bytes.size()));
            return addStream(tag, std::move(bytes));
        }
        case PropType::MvUnicode:
        case PropType::MvString8: {
            const auto& list = std::get<std::vector<std::string>>(v);
            const mapi::PropTag tag = tagOf(PropType::MvUnicode);
            std::vector<std::uint8_t> lengths;
            for (std::uint32_t i = 0; i < list.size(); ++i) {
                std::vector<std::uint8_t> bytes = utf16le(
                    value.type() == PropType::MvString8 ? codepage::toUtf8(list[i], cp) : list[i],
                    true);
                appendLe32(lengths, static_cast<std::uint32_t>(bytes.size()));
                if (Status s =
                        tree_.addStream(storage, multiValueStreamName(tag, i), std::move(bytes));
                    !s)
                    return s;
            }
            stream.variable(tag, static_cast<std::uint32_t>(lengths.size()));
            return addStream(tag, std::move(lengths));
        }
        case PropType::MvBinary: {
            const auto& list = std::get<std::vector<mapi::Binary>>(v);
            const mapi::PropTag tag = tagOf(PropType::MvBinary);
            std::vector<std::uint8_t> lengths;
            for (std::uint32_t i = 0; i < list.size(); ++i) {
                appendLe32(lengths, static_cast<std::uint32_t>(list[i].size()));
                appendLe32(lengths, 0);
                if (Status s = tree_.addStream(storage, multiValueStreamName(tag, i), list[i]); !s)
                    return s;
            }
            stream.variable(tag, static_cast<std::uint32_t>(lengths.size()));
            return addStream(tag, std::move(lengths));
        }
        default:
            // Unspecified, null and object values have no representation of their own here.
            return Status::success();
        }
    }

    static std::vector<std::uint8_t> fixedMultiValues(const PropValue& value) {
        std::vector<std::uint8_t> out;
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::vector<std::int16_t>>) {
                    for (auto e : x)
                        appendLe16(out, static_cast<std::uint16_t>(e));
                } else if constexpr (std::is_same_v<T, std::vector<std::int32_t>>) {
                    for (auto e : x)
                        appendLe32(out, static_cast<std::uint32_t>(e));
                } else if constexpr (std::is_same_v<T, std::vector<double>>) {
                    for (auto e : x)
                        appendLe64(out, doubleBits(e));
                } else if constexpr (std::is_same_v<T, std::vector<std::int64_t>>) {
                    for (auto e : x)
                        appendLe64(out, static_cast<std::uint64_t>(e));
                } else if constexpr (std::is_same_v<T, std::vector<mapi::FileTime>>) {
                    for (auto e : x)
                        appendLe64(out, e.ticks);
                } else if constexpr (std::is_same_v<T, std::vector<mapi::Guid>>) {
                    for (const auto& g : x) {
                        const auto b = g.bytes();
                        out.insert(out.end(), b.begin(), b.end());
                    }
                }
            },
            value.storage());
        return out;
    }

    cfb::Tree tree_;
    mapi::NameIdMap names_;
};

} // namespace

Result<cfb::Tree> buildMsgTree(const mapi::Message& message) {
    return MsgBuilder().build(message);
}

Status checkMsgLimits(const mapi::Message& message) {
    mapi::NameIdMap names;
    return checkLimits(message, names);
}

Status writeMsgFile(const mapi::Message& message, const platform::FileTarget& target,
                    const MsgWriteOptions& options) {
    auto tree = buildMsgTree(message);
    if (!tree)
        return Status::failure(tree.error());
    cfb::WriteOptions cfbOptions;
    cfbOptions.timestamp = options.timestamp ? options.timestamp : mapi::FileTime::now().ticks;
    cfbOptions.majorVersion = options.compoundVersion;
    return writeFile(
        target, [&](std::FILE* f) { return cfb::writeCompoundFile(*tree, f, cfbOptions); },
        options.sync);
}

} // namespace parvelle::msg
