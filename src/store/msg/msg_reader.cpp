#include "store/msg/msg_reader.h"

#include "platform/text.h"
#include "store/mapi/tags.h"
#include "store/msg/msg_format.h"
#include "store/msg/name_id_streams.h"

#include <cstring>
#include <memory>

namespace parvelle::msg {

namespace {

using mapi::PropType;
using mapi::PropValue;

constexpr int kMaxEmbeddingDepth = 64;
constexpr std::uint64_t kMaxValueStream = 256ULL << 20;

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t get64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(get32(p)) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}
double asDouble(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
std::string utf16Text(const std::vector<std::uint8_t>& bytes) {
    std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string s = text::utf16leToUtf8(view);
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}
std::string byteText(const std::vector<std::uint8_t>& bytes) {
    std::string s(bytes.begin(), bytes.end());
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

class MsgParser {
public:
    explicit MsgParser(std::shared_ptr<const cfb::CompoundFile> file) : file_(std::move(file)) {}

    Result<mapi::Message> parse() {
        if (auto nameid = file_->find(0, kNameIdStorage)) {
            auto guids = streamIn(*nameid, kGuidStream);
            auto entries = streamIn(*nameid, kEntryStream);
            auto strings = streamIn(*nameid, kStringStream);
            auto decoded = decodeNameIdStreams(guids, entries, strings);
            if (!decoded)
                return Result<mapi::Message>::failure(decoded.error());
            names_ = std::move(*decoded);
        }
        return message(0, kTopLevelHeaderSize, 0);
    }

private:
    std::vector<std::uint8_t> streamIn(std::uint32_t storage, const std::string& name) {
        auto id = file_->find(storage, name);
        if (!id || file_->entries()[*id].type != cfb::EntryType::Stream)
            return {};
        auto bytes = file_->readStream(*id, kMaxValueStream);
        return bytes ? std::move(*bytes) : std::vector<std::uint8_t>{};
    }

    Result<mapi::Message> message(std::uint32_t storage, std::size_t headerSize, int depth) {
        if (depth > kMaxEmbeddingDepth)
            return Result<mapi::Message>::failure("embedded messages nested too deeply");
        mapi::Message m;
        if (Status s = properties(storage, headerSize, m.props); !s)
            return Result<mapi::Message>::failure(s.error());
        for (std::uint32_t child : file_->children(storage)) {
            const cfb::DirectoryEntry& e = file_->entries()[child];
            if (e.type != cfb::EntryType::Storage)
                continue;
            const std::string name = e.utf8Name();
            if (name.starts_with(kRecipientPrefix)) {
                mapi::Recipient r;
                if (Status s = properties(child, kRecipientHeaderSize, r.props); !s)
                    return Result<mapi::Message>::failure(s.error());
                m.recipients.push_back(std::move(r));
            } else if (name.starts_with(kAttachmentPrefix)) {
                auto a = attachment(child, depth);
                if (!a)
                    return Result<mapi::Message>::failure(a.error());
                m.attachments.push_back(std::move(*a));
            }
        }
        return m;
    }

    Result<mapi::Attachment> attachment(std::uint32_t storage, int depth) {
        mapi::Attachment a;
        if (Status s = properties(storage, kAttachmentHeaderSize, a.props); !s)
            return Result<mapi::Attachment>::failure(s.error());
        if (auto sub = file_->find(storage, kEmbeddedMessageStorage);
            sub && file_->entries()[*sub].isStorage()) {
            auto inner = message(*sub, kEmbeddedHeaderSize, depth + 1);
            if (!inner)
                return Result<mapi::Attachment>::failure(inner.error());
            a.embedded = std::make_shared<mapi::Message>(std::move(*inner));
        } else if (auto data = file_->find(storage, valueStreamName(mapi::tags::kAttachDataBinary));
                   data && file_->entries()[*data].type == cfb::EntryType::Stream) {
            a.content = lazyContent(*data);
        }
        a.props.remove(mapi::tags::kAttachDataBinary);
        return a;
    }

    // Reads the stream's bytes from the file when asked.
    mapi::AttachmentContent lazyContent(std::uint32_t entry) {
        mapi::AttachmentContent c;
        c.size = file_->entries()[entry].size;
        auto file = file_;
        c.read = [file, entry](std::uint64_t offset, std::span<std::uint8_t> out) {
            return file->readStreamAt(entry, offset, out).ok();
        };
        return c;
    }

    Status properties(std::uint32_t storage, std::size_t headerSize, mapi::PropertyBag& bag) {
        auto id = file_->find(storage, kPropertiesStream);
        if (!id)
            return Status::failure("storage \"" + file_->entries()[storage].utf8Name() +
                                   "\" has no property stream");
        auto bytes = file_->readStream(*id, kMaxValueStream);
        if (!bytes)
            return Status::failure(bytes.error());
        const auto& d = *bytes;
        if (d.size() < headerSize)
            return Status::failure("property stream shorter than its header");
        for (std::size_t at = headerSize; at + kPropertyEntrySize <= d.size();
             at += kPropertyEntrySize) {
            const mapi::PropTag tag = get32(&d[at]);
            const std::uint8_t* value = &d[at + 8];
            std::optional<PropValue> v = decode(storage, tag, value);
            if (!v)
                continue;
            const std::uint16_t pid = mapi::tagId(tag);
            if (mapi::isNamedId(pid)) {
                if (auto it = names_.find(pid); it != names_.end()) {
                    bag.setNamed(it->second, std::move(*v));
                    continue;
                }
            }
            bag.set(tag, std::move(*v));
        }
        return Status::success();
    }

    std::optional<PropValue> decode(std::uint32_t storage, mapi::PropTag tag,
                                    const std::uint8_t* value) {
        const PropType type = mapi::tagType(tag);
        switch (type) {
        case PropType::I2:
            return PropValue::i2(static_cast<std::int16_t>(get16(value)));
        case PropType::Long:
        case PropType::Error:
            return PropValue(type, static_cast<std::int32_t>(get32(value)));
        case PropType::Boolean:
            return PropValue::boolean(get16(value) != 0);
        case PropType::Float: {
            float f;
            std::memcpy(&f, value, 4);
            return PropValue(type, static_cast<double>(f));
        }
        case PropType::Double:
        case PropType::AppTime:
            return PropValue(type, asDouble(get64(value)));
        case PropType::Currency:
        case PropType::I8:
            return PropValue(type, static_cast<std::int64_t>(get64(value)));
        case PropType::SysTime:
            return PropValue::time({get64(value)});
        case PropType::Unicode:
            return PropValue::unicode(utf16Text(streamIn(storage, valueStreamName(tag))));
        case PropType::String8:
            return PropValue::string8(byteText(streamIn(storage, valueStreamName(tag))));
        case PropType::Binary:
            return PropValue::binary(streamIn(storage, valueStreamName(tag)));
        case PropType::Guid: {
            auto b = streamIn(storage, valueStreamName(tag));
            if (b.size() < 16)
                return std::nullopt;
            return PropValue::guid(mapi::Guid::fromBytes(b.data()));
        }
        case PropType::MvI2: {
            auto b = streamIn(storage, valueStreamName(tag));
            std::vector<std::int16_t> out;
            for (std::size_t i = 0; i + 2 <= b.size(); i += 2)
                out.push_back(static_cast<std::int16_t>(get16(&b[i])));
            return PropValue(type, std::move(out));
        }
        case PropType::MvLong: {
            auto b = streamIn(storage, valueStreamName(tag));
            std::vector<std::int32_t> out;
            for (std::size_t i = 0; i + 4 <= b.size(); i += 4)
                out.push_back(static_cast<std::int32_t>(get32(&b[i])));
            return PropValue(type, std::move(out));
        }
        case PropType::MvDouble:
        case PropType::MvAppTime: {
            auto b = streamIn(storage, valueStreamName(tag));
            std::vector<double> out;
            for (std::size_t i = 0; i + 8 <= b.size(); i += 8)
                out.push_back(asDouble(get64(&b[i])));
            return PropValue(type, std::move(out));
        }
        case PropType::MvCurrency:
        case PropType::MvI8: {
            auto b = streamIn(storage, valueStreamName(tag));
            std::vector<std::int64_t> out;
            for (std::size_t i = 0; i + 8 <= b.size(); i += 8)
                out.push_back(static_cast<std::int64_t>(get64(&b[i])));
            return PropValue(type, std::move(out));
        }
        case PropType::MvSysTime: {
            auto b = streamIn(storage, valueStreamName(tag));
            std::vector<mapi::FileTime> out;
            for (std::size_t i = 0; i + 8 <= b.size(); i += 8)
                out.push_back({get64(&b[i])});
            return PropValue(type, std::move(out));
        }
        case PropType::MvGuid: {
            auto b = streamIn(storage, valueStreamName(tag));
            std::vector<mapi::Guid> out;
            for (std::size_t i = 0; i + 16 <= b.size(); i += 16)
                out.push_back(mapi::Guid::fromBytes(&b[i]));
            return PropValue(type, std::move(out));
        }
        case PropType::MvUnicode:
        case PropType::MvString8: {
            auto lengths = streamIn(storage, valueStreamName(tag));
            std::vector<std::string> out;
            for (std::uint32_t i = 0; i * 4ULL + 4 <= lengths.size(); ++i) {
                auto b = streamIn(storage, multiValueStreamName(tag, i));
                out.push_back(type == PropType::MvUnicode ? utf16Text(b) : byteText(b));
            }
            return PropValue(type, std::move(out));
        }
        case PropType::MvBinary: {
            auto lengths = streamIn(storage, valueStreamName(tag));
            std::vector<mapi::Binary> out;
            for (std::uint32_t i = 0; i * 8ULL + 8 <= lengths.size(); ++i)
                out.push_back(streamIn(storage, multiValueStreamName(tag, i)));
            return PropValue(type, std::move(out));
        }
        default:
            return std::nullopt;
        }
    }

    std::shared_ptr<const cfb::CompoundFile> file_;
    std::map<std::uint16_t, mapi::NamedProperty> names_;
};

} // namespace

Result<mapi::Message> readMsgFile(const std::string& path) {
    auto file = cfb::CompoundFile::open(path);
    if (!file)
        return Result<mapi::Message>::failure(file.error());
    auto shared = std::make_shared<const cfb::CompoundFile>(std::move(*file));
    return MsgParser(shared).parse();
}

} // namespace parvelle::msg
