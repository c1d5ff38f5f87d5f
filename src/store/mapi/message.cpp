#include "store/mapi/message.h"

#include "store/mapi/tags.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace parvelle::mapi {

std::size_t PropertyBag::position(std::uint16_t id) const {
    return static_cast<std::size_t>(
        std::lower_bound(order_.begin(), order_.end(), id,
                         [](const Key& key, std::uint16_t wanted) { return key.id < wanted; }) -
        order_.begin());
}

void PropertyBag::set(PropTag tag, PropValue value) {
    const std::uint16_t id = tagId(tag);
    const std::size_t at = position(id);
    if (at < order_.size() && order_[at].id == id) {
        entries_[order_[at].slot] = std::move(value);
        return;
    }
    // Recipients and attachments hold a dozen or two values, messages up to a hundred: growing
    // by doubling would move a message's values four times over.
    if (entries_.size() == entries_.capacity()) {
        const std::size_t n = entries_.size();
        entries_.reserve(n < 16 ? 16 : n < 64 ? 128 : 2 * n);
    }
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(at),
                  Key{id, static_cast<std::uint16_t>(entries_.size())});
    entries_.push_back(std::move(value));
}

void PropertyBag::setNamed(const NamedProperty& name, PropValue value) {
    named_[name] = std::move(value);
}

const PropValue* PropertyBag::get(PropTag tag) const {
    const std::uint16_t id = tagId(tag);
    const std::size_t at = position(id);
    if (at < order_.size() && order_[at].id == id)
        return &entries_[order_[at].slot];
    return nullptr;
}

const PropValue* PropertyBag::getNamed(const NamedProperty& name) const {
    auto it = named_.find(name);
    return it == named_.end() ? nullptr : &it->second;
}

bool PropertyBag::remove(PropTag tag) {
    const std::uint16_t id = tagId(tag);
    const std::size_t at = position(id);
    if (at == order_.size() || order_[at].id != id)
        return false;
    // The last value takes the removed one's place.
    const std::uint16_t slot = order_[at].slot;
    const auto last = static_cast<std::uint16_t>(entries_.size() - 1);
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(at));
    if (slot != last) {
        entries_[slot] = std::move(entries_[last]);
        std::find_if(order_.begin(), order_.end(), [last](const Key& key) {
            return key.slot == last;
        })->slot = slot;
    }
    entries_.pop_back();
    return true;
}

bool PropertyBag::removeNamed(const NamedProperty& name) {
    return named_.erase(name) > 0;
}

std::vector<std::pair<std::uint16_t, PropValue>> PropertyBag::releaseTagged() {
    std::vector<std::pair<std::uint16_t, PropValue>> out;
    out.reserve(order_.size());
    for (const Key& key : order_)
        out.emplace_back(key.id, std::move(entries_[key.slot]));
    entries_.clear();
    order_.clear();
    return out;
}

std::string PropertyBag::string(PropTag tag, std::string fallback) const {
    const PropValue* v = get(tag);
    const std::string* s = v ? v->asString() : nullptr;
    return s ? *s : fallback;
}

std::string_view PropertyBag::stringView(PropTag tag) const {
    const PropValue* v = get(tag);
    const std::string* s = v ? v->asString() : nullptr;
    return s ? std::string_view(*s) : std::string_view();
}

std::int32_t PropertyBag::int32(PropTag tag, std::int32_t fallback) const {
    const PropValue* v = get(tag);
    auto i = v ? v->asInt32() : std::nullopt;
    return i ? *i : fallback;
}

bool PropertyBag::boolean(PropTag tag, bool fallback) const {
    const PropValue* v = get(tag);
    auto b = v ? v->asBool() : std::nullopt;
    return b ? *b : fallback;
}

Recipient Recipient::make(std::string displayName, std::string address, std::int32_t kind,
                          std::string addressType) {
    Recipient r;
    r.props.setString(tags::kDisplayName, std::move(displayName));
    r.props.setString(tags::kEmailAddress, std::move(address));
    r.props.setString(tags::kAddressType, std::move(addressType));
    r.props.setInt(tags::kRecipientType, kind);
    return r;
}

std::string Recipient::displayName() const {
    std::string name = props.string(tags::kDisplayName);
    return name.empty() ? props.string(tags::kEmailAddress) : name;
}

std::int32_t Recipient::kind() const {
    return props.int32(tags::kRecipientType, tags::kRecipTo);
}

AttachmentContent AttachmentContent::fromBytes(Binary bytes) {
    auto shared = std::make_shared<const Binary>(std::move(bytes));
    AttachmentContent c;
    c.size = shared->size();
    c.readableLater = true;
    c.inMemory = true;
    c.read = [shared](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (offset > shared->size() || out.size() > shared->size() - offset)
            return false;
        std::copy_n(shared->begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        return true;
    };
    return c;
}

std::optional<AttachmentContent> AttachmentContent::fromFile(const std::string& path) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe)
        return std::nullopt;
    std::shared_ptr<std::FILE> file(probe, [](std::FILE* f) { std::fclose(f); });
    if (fseeko(probe, 0, SEEK_END) != 0)
        return std::nullopt;
    const off_t end = ftello(probe);
    if (end < 0)
        return std::nullopt;
    AttachmentContent c;
    c.size = static_cast<std::uint64_t>(end);
    c.read = [file](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0)
            return false;
        return std::fread(out.data(), 1, out.size(), file.get()) == out.size();
    };
    return c;
}

Attachment Attachment::byValue(std::string longFilename, Binary bytes) {
    return byValue(std::move(longFilename), AttachmentContent::fromBytes(std::move(bytes)));
}

Attachment Attachment::byValue(std::string longFilename, AttachmentContent content) {
    Attachment a;
    a.props.setInt(tags::kAttachMethod, tags::kAttachByValue);
    a.props.setString(tags::kAttachLongFilename, longFilename);
    a.props.setString(tags::kDisplayName, std::move(longFilename));
    a.content = std::move(content);
    return a;
}

Attachment Attachment::embeddedMessage(std::string displayName, Message message) {
    Attachment a;
    a.props.setInt(tags::kAttachMethod, tags::kAttachEmbeddedMessage);
    a.props.setString(tags::kDisplayName, std::move(displayName));
    a.embedded = std::make_shared<Message>(std::move(message));
    return a;
}

std::uint64_t contentBytes(const Message& message,
                           const std::function<bool(const AttachmentContent&)>& counts) {
    std::uint64_t total = 0;
    for (const Attachment& a : message.attachments)
        if (a.isEmbedded())
            total += contentBytes(*a.embedded, counts);
        else if (counts(a.content))
            total += a.content.size;
    return total;
}

} // namespace parvelle::mapi
